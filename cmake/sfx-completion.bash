# Bash completion for sfx. Commands and options are read from the tool's own
# --help at completion time, so they always match the installed tool.

_sfx_subcommands() {
  awk 'tolower($0) ~ /^subcommands:/ { on = 1; next }
       on && /^  [^ -]/ { print $1; next }
       on && !/^ / { on = 0 }'
}

_sfx_options() {
  awk '/^ +-/ { n = split($1, names, ","); for (i = 1; i <= n; i++) print names[i] }'
}

_sfx() {
  local cur=${COMP_WORDS[COMP_CWORD]} help subs i
  local -a path=()
  help=$("${COMP_WORDS[0]}" --help 2>/dev/null)
  for ((i = 1; i < COMP_CWORD; i++)); do
    subs=$(printf '%s\n' "$help" | _sfx_subcommands)
    if grep -qxF -- "${COMP_WORDS[i]}" <<<"$subs"; then
      path+=("${COMP_WORDS[i]}")
      help=$("${COMP_WORDS[0]}" "${path[@]}" --help 2>/dev/null)
    fi
  done
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(printf '%s\n' "$help" | _sfx_options)" -- "$cur")
    return
  fi
  subs=$(printf '%s\n' "$help" | _sfx_subcommands)
  mapfile -t COMPREPLY < <(compgen -W "$subs" -- "$cur")
  if [[ ${#COMPREPLY[@]} -eq 0 ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -o filenames -o bashdefault -F _sfx sfx
