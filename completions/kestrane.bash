# bash completion for kestrane: its options after a '-', file names for the
# input and the output file specification. bash-completion loads it from its
# completions folder; without bash-completion, source it from ~/.bashrc.

_kestrane() {
  local current=${COMP_WORDS[COMP_CWORD]}
  local options_ended=false specifications=0 word index
  for ((index = 1; index < COMP_CWORD; index++)); do
    word=${COMP_WORDS[index]}
    if [[ $options_ended == false && $word == -- ]]; then
      options_ended=true
    elif [[ $options_ended == true || $word != -* ]]; then
      specifications=$((specifications + 1))
    fi
  done

  if [[ $options_ended == false && $current == -* ]]; then
    local options="-a -u -n -r -q --json --sync --undo --recover --help --version --"
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
    return
  fi
  # An input and an output specification; a third is refused.
  ((specifications < 2)) || return
  if declare -F _filedir >/dev/null; then
    local cur=$current  # what bash-completion's _filedir completes
    _filedir
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$current")
  fi
}
complete -F _kestrane kestrane
