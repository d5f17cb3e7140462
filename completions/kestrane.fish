# fish completion for kestrane: its options with their meanings; file names,
# as fish offers by default, for the input and the output file specification.
complete -c kestrane -s a -d 'append tags only: refuse outputs that already have a tag'
complete -c kestrane -s u -d 'update tags only: refuse outputs without a tag'
complete -c kestrane -s n -d 'dry run: report what would be done, change no file'
complete -c kestrane -s r -d 'folder trees: pair files by relative path in every subfolder'
complete -c kestrane -s q -d 'quiet: report only outputs changed or not done, then the totals'
complete -c kestrane -l json -d 'report as JSON Lines, one object per line'
complete -c kestrane -l sync -d 'each change on the disk before the next: safe from power cuts'
complete -c kestrane -l undo -d 'put back the outputs the last run changed'
complete -c kestrane -l recover -d 'finish what a killed run left, then end'
complete -c kestrane -l help -d 'print the usage text'
complete -c kestrane -l version -d 'print the version'
complete -c kestrane -n 'string match -q -- "-*" (commandline -ct); and not contains -- -- (commandline -opc)' \
  -a '--' -d 'end of options: every later argument is a file specification'
