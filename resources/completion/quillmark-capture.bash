# bash completion for quillmark-capture.
# Commands and options are read from the tool's own --help, and the compressor codes from
# "quillmark-capture codecs", the monitors' names from "quillmark-capture monitors", so the
# completion follows the installed tool.

_quillmark_capture() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  local tool=${COMP_WORDS[0]}
  COMPREPLY=()

  if [[ $COMP_CWORD -eq 1 ]]; then
    local commands
    commands=$("$tool" --help 2>/dev/null | awk '/^  [a-z]/ { print $1 }')
    mapfile -t COMPREPLY < <(compgen -W "$commands help --help --version" -- "$cur")
    return
  fi

  local command=${COMP_WORDS[1]}
  if [[ $command == help ]]; then
    [[ $COMP_CWORD -eq 2 ]] && mapfile -t COMPREPLY < <(compgen -W \
      "$("$tool" --help 2>/dev/null | awk '/^  [a-z]/ { print $1 }')" -- "$cur")
    return
  fi

  case $prev in
    --codec)
      mapfile -t COMPREPLY < <(compgen -W \
        "$("$tool" codecs 2>/dev/null | cut -f1 | grep -v '^$')" -- "$cur")
      return ;;
    --sound)
      mapfile -t COMPREPLY < <(compgen -W "desktop mic both" -- "$cur")
      return ;;
    --sound-codec)
      mapfile -t COMPREPLY < <(compgen -W "pcm mp3" -- "$cur")
      return ;;
    --monitor)
      mapfile -t COMPREPLY < <(compgen -W \
        "$("$tool" monitors 2>/dev/null | cut -d' ' -f1)" -- "$cur")
      return ;;
    --area | --fps | --seconds | --quality | --from | --to | --width)
      return ;;
  esac

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W \
      "$("$tool" "$command" --help 2>/dev/null | awk '/^  --/ { print $1 }')" -- "$cur")
    return
  fi

  local patterns=()
  case $command in
    record | repair) patterns=('*.[aA][vV][iI]') ;;
    export)
      if [[ $COMP_CWORD -eq 2 ]]; then
        patterns=('*.[aA][vV][iI]')
      else
        patterns=('*.[mM][pP]4' '*.[wW][eE][bB][mM]' '*.[mM][kK][vV]' '*.[gG][iI][fF]')
      fi ;;
    photo) patterns=('*.[gG][iI][fF]' '*.[jJ][pP][gG]' '*.[jJ][pP][eE][gG]' '*.[bB][mM][pP]') ;;
    *) return ;;
  esac
  compopt -o filenames 2>/dev/null
  local pattern
  mapfile -t COMPREPLY < <(
    for pattern in "${patterns[@]}"; do compgen -f -X "!$pattern" -- "$cur"; done
    compgen -d -- "$cur")
}

complete -F _quillmark_capture quillmark-capture
