#!/usr/bin/env bash
# The documentation keeps up with the program: every command that `flashwright-cli --help` lists,
# and every option that it or `COMMAND --help` names, is described in the manual page and the HTML
# manual; the README mentions every command; the bash completion offers every command.
# Usage: cli_docs_test.sh FLASHWRIGHT_CLI SOURCE_DIR
set -euo pipefail
cli=$(realpath "$1") src=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # a command's --help must leave nothing behind; look for it here
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

help=$("$cli" --help)
mapfile -t commands < <(awk '
    /^[A-Za-z].*:$/ { inlist = tolower($0) == "commands:"; next }
    inlist && /^  [a-z][a-z0-9-]*( |$)/ { print $1 }' <<<"$help")
((${#commands[@]} >= 5)) || { echo "FAIL: no command list in --help:" >&2; echo "$help" >&2; exit 1; }

# The options a help text lists: the lines of its "Options:" or "Global options" section.
options_of() {
  awk '/^[A-Za-z].*:$/ { inlist = ($0 ~ /^(Options|Global options.*):$/); next }
       inlist && /^  -/ { print }' | grep -oE -- '--[a-z][a-z0-9-]*'
}
# The options of a command's usage line (up to the first empty line of its help).
usage_options_of() { awk '/^$/ { exit } { print }' | grep -oE -- '--[a-z][a-z0-9-]*' || true; }
mapfile -t options < <({
  options_of <<<"$help"
  for c in "${commands[@]}"; do
    "$cli" "$c" --help 2>/dev/null </dev/null | { usage_options_of; options_of; } || true
  done
} | sort -u)

# A command that describes its options describes every option of its usage line.
for c in "${commands[@]}"; do
  command_help=$("$cli" "$c" --help 2>/dev/null </dev/null) || fail "$c --help failed"
  described=$(options_of <<<"$command_help" || true)
  [[ -n $described ]] || continue
  for o in $(usage_options_of <<<"$command_help"); do
    grep -qx -- "$o" <<<"$described" || fail "$c --help names $o in its usage but not among its options"
  done
done

# The manual page's words, with roff's escapes undone.
man_text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$src/dist/man/flashwright-cli.1")
manual=$(sed -e 's/<[^>]*>/ /g' -e 's/&gt;/>/g' -e 's/&lt;/</g' -e 's/&amp;/\&/g' "$src/docs/manual.html")

# The README's code: indented lines and `spans`.
readme_code=$({
  grep -E '^    ' "$src/README.md" || true
  grep -oE '`[^`]+`' "$src/README.md" | tr -d '`' || true
})

for c in "${commands[@]}"; do
  grep -qx "\.SS $c" <<<"$man_text" || fail "flashwright-cli.1 has no section for the command $c"
  grep -qE "(^|[^a-z-])$c( |$)" <<<"$manual" || fail "manual.html does not describe the command $c"
  grep -qE "(^|[] ])$c( |$)" <<<"$readme_code" || fail "README.md does not mention the command $c"
done
for o in "${options[@]}"; do
  grep -qE -- "(^|[^a-z-])$o([^a-z-]|$)" <<<"$man_text" || fail "flashwright-cli.1 does not describe $o"
  grep -qE -- "(^|[^a-z-])$o([^a-z-]|$)" <<<"$manual" || fail "manual.html does not describe $o"
done

# What the completion offers, as bash runs it on Tab after the words given ("" for the word being
# typed).
complete_after() {
  PATH="$(dirname "$cli"):$PATH" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1/dist/bash-completion/flashwright-cli"
    shift
    COMP_WORDS=(flashwright-cli "$@" ""); COMP_CWORD=${#COMP_WORDS[@]}-1
    COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
    _flashwright_cli flashwright-cli "" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$src" "$@"
}
offered=$(complete_after)
for c in "${commands[@]}"; do
  grep -qx -- "$c" <<<"$offered" || fail "the bash completion does not offer $c"
done
# After a command, its action words; after an option, its values.
actions=$(complete_after hfs-support)
for a in status install remove; do
  grep -qx -- "$a" <<<"$actions" || fail "the bash completion does not offer hfs-support $a"
done
values=$(complete_after format --file-system)
for v in FAT32 FAT32-LBA exFAT NTFS UDF; do
  grep -qx -- "$v" <<<"$values" || fail "the bash completion does not offer --file-system $v"
done

leftovers=$(ls -A)
[[ -z $leftovers ]] || fail "--help of a command left files behind: $leftovers"

((failures == 0)) || exit 1
echo "documentation covers ${#commands[@]} commands and ${#options[@]} options"
