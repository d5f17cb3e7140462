# PowerShell argument completer for kestrane.exe: its options with their
# meanings as tooltips (also in the /a form Windows allows), and file names
# for the input and the output file specification. Load it in a session with
#     . C:\Tools\kestrane-completion.ps1
# (the folder that holds it), or in every session by putting that line in
# the file $PROFILE names.

Register-ArgumentCompleter -Native -CommandName 'kestrane', 'kestrane.exe' -ScriptBlock {
  param($wordToComplete, $commandAst, $cursorPosition)

  $options = [ordered]@{
    '-a'        = 'append tags only: refuse outputs that already have a tag'
    '-u'        = 'update tags only: refuse outputs without a tag'
    '-n'        = 'dry run: report what would be done, change no file'
    '-r'        = 'folder trees: pair files by relative path in every subfolder'
    '-q'        = 'quiet: report only outputs changed or not done, then the totals'
    '--json'    = 'report as JSON Lines, one object per line'
    '--sync'    = 'each change on the disk before the next: safe from power cuts'
    '--undo'    = 'put back the outputs the last run changed'
    '--recover' = 'finish what a killed run left, then end'
    '--help'    = 'print the usage text'
    '--version' = 'print the version'
    '--'        = 'end of options: every later argument is a file specification'
  }

  # After '--' every argument is a file specification.
  foreach ($element in $commandAst.CommandElements | Select-Object -Skip 1) {
    if ($element.Extent.EndOffset -lt $cursorPosition -and $element.Extent.Text -eq '--') {
      return
    }
  }
  # Nothing offered here leaves the word to PowerShell's own file name completion.
  if ($wordToComplete -notmatch '^[-/]') {
    return
  }

  $candidates = foreach ($option in $options.Keys) {
    $meaning = $options[$option]
    [pscustomobject]@{ Text = $option; Meaning = $meaning }
    if ($option -match '^-[a-z]$') {
      [pscustomobject]@{ Text = '/' + $option.Substring(1); Meaning = $meaning }
    }
  }
  $candidates += [pscustomobject]@{ Text = '/?'; Meaning = 'print the usage text' }

  foreach ($candidate in $candidates) {
    if ($candidate.Text.StartsWith($wordToComplete, [System.StringComparison]::OrdinalIgnoreCase)) {
      [System.Management.Automation.CompletionResult]::new(
        $candidate.Text, $candidate.Text, 'ParameterName', $candidate.Meaning)
    }
  }
}
