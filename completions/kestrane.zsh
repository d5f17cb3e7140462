#compdef kestrane
# zsh completion for kestrane: its options with their meanings, file names
# for the input and the output file specification. Installed as _kestrane in
# a folder of $fpath; compinit loads it.

_arguments -s -S \
  '*-a[append tags only: refuse outputs that already have a tag]' \
  '*-u[update tags only: refuse outputs without a tag]' \
  '*-n[dry run: report what would be done, change no file]' \
  '*-r[folder trees: pair files by relative path in every subfolder]' \
  '*-q[quiet: report only outputs changed or not done, then the totals]' \
  '--json[report as JSON Lines, one object per line]' \
  '--sync[each change on the disk before the next: safe from power cuts]' \
  '--undo[put back the outputs the last run changed]' \
  '--recover[finish what a killed run left, then end]' \
  '(- *)--help[print the usage text]' \
  '(- *)--version[print the version]' \
  '(-)--[end of options: every later argument is a file specification]' \
  '1:input file specification:_files' \
  '2:output file specification:_files'
