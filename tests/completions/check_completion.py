#!/usr/bin/env python3
"""Drives a shell's completion for kestrane non-interactively and checks
what it offers.

    check_completion.py SHELL WHAT --file FILE
    check_completion.py SHELL WHAT --installed SHARE

SHELL is bash, zsh or fish; WHAT is
    options  after `kestrane -`: every option, with its meaning where the
             shell shows one (zsh and fish), and nothing else;
    files    file names for the file specifications: `kestrane -n so`
             offers song.ape, and `kestrane -- -` the file -x.ape.
--file loads FILE as the completion (as a user who sources it would);
--installed lets the shell find it on its own in SHARE, a prefix's share
folder (bash-completion and fish through XDG_DATA_DIRS, zsh in
SHARE/zsh/vendor-completions on its fpath).

    check_completion.py powershell options --file FILE

parses FILE with pwsh when pwsh is installed; without it, checks that the
file pairs every option with its meaning, as the other shells show them.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

OPTIONS = {
    "-a": "append tags only: refuse outputs that already have a tag",
    "-u": "update tags only: refuse outputs without a tag",
    "-n": "dry run: report what would be done, change no file",
    "-r": "folder trees: pair files by relative path in every subfolder",
    "-q": "quiet: report only outputs changed or not done, then the totals",
    "--json": "report as JSON Lines, one object per line",
    "--sync": "each change on the disk before the next: safe from power cuts",
    "--undo": "put back the outputs the last run changed",
    "--recover": "finish what a killed run left, then end",
    "--help": "print the usage text",
    "--version": "print the version",
    "--": "end of options: every later argument is a file specification",
}

# Each case: the command line up to the cursor, and what must be offered.
FILE_CASES = [("kestrane -n so", ["song.ape"]), ("kestrane -- -", ["-x.ape"])]


def run(command, environment=None, cwd=None, stdin=None):
    result = subprocess.run(command, env=environment, cwd=cwd, input=stdin, capture_output=True, text=True,
                            timeout=60)
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed (exit status {result.returncode}):\n{result.stdout}{result.stderr}")
    return result.stdout


def clean_environment(scratch):
    """No user settings: an empty home, no completions a user installed. A
    kestrane on the PATH, as fish loads the completions of a command only
    when there is one (the completions never run it)."""
    bin_folder = os.path.join(scratch, "bin")
    os.mkdir(bin_folder)
    with open(os.path.join(bin_folder, "kestrane"), "w") as stand_in:
        stand_in.write("#!/bin/sh\nexit 1\n")
    os.chmod(os.path.join(bin_folder, "kestrane"), 0o755)
    environment = {"PATH": bin_folder + os.pathsep + os.environ["PATH"], "HOME": scratch, "TERM": "dumb",
                   "LC_ALL": "C.UTF-8"}
    environment["XDG_DATA_HOME"] = environment["XDG_CONFIG_HOME"] = os.path.join(scratch, "user")
    environment["BASH_COMPLETION_USER_DIR"] = os.path.join(scratch, "user")
    return environment


BASH_DRIVER = r"""
source /usr/share/bash-completion/bash_completion
if [[ -n $COMPLETION_FILE ]]; then source "$COMPLETION_FILE"; else __load_completion kestrane; fi
function=$(complete -p kestrane 2>/dev/null | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || { echo "no completion function for kestrane" >&2; exit 1; }
read -ra COMP_WORDS <<<"$LINE"
[[ $LINE == *' ' ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$LINE COMP_POINT=${#LINE}
"$function" kestrane "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""


def bash_offers(line, load, environment, cwd):
    environment = dict(environment, LINE=line, **load)
    return [(word, None) for word in run(["bash", "--norc", "--noprofile", "-c", BASH_DRIVER],
                                         environment, cwd).splitlines()]


def fish_offers(line, load, environment, cwd):
    environment = dict(environment, **load)
    if "COMPLETION_FILE" in load:  # no configuration: only this file's completions
        command = ["fish", "--no-config", "-c", 'source "$COMPLETION_FILE"; complete -C "$LINE"']
    else:  # fish's own configuration finds the vendor completions folders
        command = ["fish", "-c", 'complete -C "$LINE"']
    offered = run(command, dict(environment, LINE=line), cwd)
    return [tuple(item.split("\t", 1)) if "\t" in item else (item, None) for item in offered.splitlines()]


# An interactive zsh in a pseudo-terminal (zsh's zpty module): the line is
# typed with a TAB after it. With one match the line is completed and run
# (kestrane is a function that prints its arguments); with several zsh lists
# them, with their meanings.
ZSH_DRIVER = r"""
zmodload zsh/zpty
# Reads what the shell prints until the text has the marker in it (30 s at most).
read_until() {
  local marker=$1 chunk deadline=$((SECONDS + 30))
  output=
  while [[ $output != *$marker* ]] && ((SECONDS < deadline)); do
    if zpty -r -t shell chunk; then output+=$chunk; else sleep 0.05; fi
  done
}
zpty shell zsh -f -i
zpty -w shell "stty columns 500 rows 100; PS1= RPS1=; unsetopt zle_bracketed_paste"
zpty -w shell 'fpath=("$FPATH_FOLDER" $fpath); autoload -Uz compinit; compinit -u -D'
zpty -w shell "zstyle ':completion:*' list-separator '--'; LISTMAX=0; kestrane() { print -r -- \"<<\$*>>\" }"
zpty -w shell "print -r 'ready''.'"
read_until ready.
zpty -w -n shell "$LINE"$'\t'
zpty -w -n shell $'\n'
zpty -w shell "print -r 'done''.'"
read_until done.
zpty -d shell
print -r -- "$output"
"""


def zsh_offers(line, load, environment, cwd):
    environment = dict(environment, TERM="xterm", LINE=line, FPATH_FOLDER=load["FPATH_FOLDER"])
    output = run(["zsh", "-f", "-c", ZSH_DRIVER], environment, cwd)
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x07", "", output)
    pieces = re.split(r"[\r\n]+", text)
    listed = [(match.group(1), match.group(2)) for piece in pieces
              if (match := re.fullmatch(r"(-\S*) +-- (.+?) *", piece))]
    if listed:
        return listed
    return [(match.group(1).split(" ")[-1], None) for piece in pieces if (match := re.fullmatch(r"<<(.*)>>", piece))]


def loaded_by(shell, arguments, scratch):
    """What tells the driver where the completion is."""
    how, where = arguments
    where = os.path.abspath(where)
    if how == "--file" and shell == "zsh":
        folder = os.path.join(scratch, "fpath")
        os.mkdir(folder)
        shutil.copy(where, os.path.join(folder, "_kestrane"))  # compinit loads a function by its file name
        return {"FPATH_FOLDER": folder}
    if how == "--file":
        return {"COMPLETION_FILE": where}
    if shell == "zsh":
        return {"FPATH_FOLDER": os.path.join(where, "zsh", "vendor-completions")}
    return {"XDG_DATA_DIRS": where}


def check_powershell(path):
    text = open(path, encoding="utf-8").read()
    pwsh = shutil.which("pwsh")
    if pwsh is not None:
        run([pwsh, "-NoProfile", "-NonInteractive", "-Command",
             "$errors = $null; [void][System.Management.Automation.Language.Parser]::ParseFile("
             "$env:COMPLETION_FILE, [ref]$null, [ref]$errors); $errors; if ($errors) { exit 1 }"],
            dict(os.environ, COMPLETION_FILE=os.path.abspath(path)))
        print("pwsh parses it")
    else:
        print("pwsh is not installed: the script's text is checked, not parsed")
    listed = dict(re.findall(r"^ *'([-/][^']*)' *= *'([^']*)'$", text, re.MULTILINE))
    return [] if listed == OPTIONS else [f"the options it lists: {listed}"]


def main(argv):
    if len(argv) != 5 or argv[2] not in ("options", "files") or argv[3] not in ("--file", "--installed"):
        sys.exit(__doc__)
    shell, what = argv[1], argv[2]
    if shell == "powershell":
        problems = check_powershell(argv[4])
    else:
        offers = {"bash": bash_offers, "zsh": zsh_offers, "fish": fish_offers}[shell]
        with tempfile.TemporaryDirectory() as scratch:
            environment = clean_environment(scratch)
            load = loaded_by(shell, argv[3:], scratch)
            files, empty = os.path.join(scratch, "files"), os.path.join(scratch, "empty")
            os.makedirs(os.path.join(files, "sub"))
            os.mkdir(empty)
            for name in ("song.ape", "-x.ape", "other.mp3"):
                open(os.path.join(files, name), "w").close()
            if what == "options":  # in an empty folder, as fish offers file names too
                cases = [("kestrane -", [(option, None if shell == "bash" else meaning)
                                         for option, meaning in OPTIONS.items()], empty)]
            else:
                cases = [(line, [(name, None) for name in names], files) for line, names in FILE_CASES]
            problems = []
            for line, expected, folder in cases:
                offered = offers(line, load, environment, folder)
                if sorted(offered) != sorted(expected):
                    problems.append(f"'{line}' offers {offered}, expected {expected}")
    for problem in problems:
        print(f"FAIL: {shell}: {problem}")
    if problems:
        sys.exit(1)
    if shell == "powershell":
        print("the PowerShell completer pairs every option with its meaning")
    else:
        print(f"{shell} offers the {what} as expected")


if __name__ == "__main__":
    main(sys.argv)
