# Bash completion of kelvaron-regex: its commands, the options of each, and
# file names where a file is due. Installed as
# share/bash-completion/completions/kelvaron-regex; it needs only bash's own
# complete and compgen.

_kelvaron_regex_words() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="validate test replace generate grep"
  local command="" word
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case " $commands " in *" $word "*) command=$word; break ;; esac
  done

  # "--color=al" comes as "--color" "=" "al" where "=" breaks words
  if [ "$prev" = "=" ] && [ "$COMP_CWORD" -ge 2 ]; then
    case ${COMP_WORDS[COMP_CWORD - 2]} in
      --color|--colour) mapfile -t COMPREPLY < <(compgen -W "auto always never" -- "$cur") ;;
      --binary-files) mapfile -t COMPREPLY < <(compgen -W "binary text without-match" -- "$cur") ;;
      --file|--json|--include|--exclude|--exclude-dir) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    esac
    return
  fi

  if [ "$command" = grep ]; then
    case $prev in
      -f|--file|--include|--exclude|--exclude-dir)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
      -e|--regexp|-m|--max-count|-A|-B|-C|--after-context|--before-context|--context|--label|--group-separator)
        return ;;
    esac
    case $cur in
      --color=*|--colour=*)
        mapfile -t COMPREPLY < <(compgen -P "${cur%%=*}=" -W "auto always never" -- "${cur#*=}"); return ;;
      --binary-files=*)
        mapfile -t COMPREPLY < <(compgen -P "--binary-files=" -W "binary text without-match" -- "${cur#*=}"); return ;;
      -*)
        mapfile -t COMPREPLY < <(compgen -W "-E -F -i -y -w -x -e -f -v -c -l -L -o -q -s -m -n -b -H -h -A -B -C
          -a -I -r -R --extended-regexp --fixed-strings --regexp= --file= --ignore-case --no-ignore-case
          --word-regexp --line-regexp --invert-match --count --files-with-matches --files-without-match
          --only-matching --quiet --silent --no-messages --max-count= --line-number --byte-offset
          --with-filename --no-filename --label= --after-context= --before-context= --context=
          --group-separator= --no-group-separator --color --color= --colour= --text --binary-files=
          --recursive --dereference-recursive --include= --exclude= --exclude-dir= --help --version" -- "$cur")
        return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi

  case $prev in
    -f|--file|--json) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
  esac
  case $cur in
    --color=*|--colour=*)
      mapfile -t COMPREPLY < <(compgen -P "${cur%%=*}=" -W "auto always never" -- "${cur#*=}"); return ;;
    -*)
      local options="-H --human -h --help --version --"
      case $command in
        test) options="$options -f --file --file= --color --color=" ;;
        replace) options="$options -f --file --file=" ;;
        generate) options="$options --json --json=" ;;
      esac
      mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
      return ;;
  esac
  if [ -z "$command" ]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  fi
}

# No space after an option that takes its value after "=".
_kelvaron_regex() {
  COMPREPLY=()
  _kelvaron_regex_words
  if [ "${#COMPREPLY[@]}" -eq 1 ] && [[ ${COMPREPLY[0]} == *= ]]; then compopt -o nospace; fi
}

complete -o default -F _kelvaron_regex kelvaron-regex
