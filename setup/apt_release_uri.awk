# The archive this machine already installs the release from: the first "deb"
# source, in one-line (*.list) or deb822 (*.sources) form, whose suites hold
# `want` (a suite such as bookworm or bookworm-security). Prints its URI;
# exits 1 when no source names that suite.
# Usage: awk -v want=SUITE -f apt_release_uri.awk SOURCE_FILES...
function has_word(list, word,   n, i, w) {
  n = split(list, w, /[ \t]+/)
  for (i = 1; i <= n; i++) if (w[i] == word) return 1
  return 0
}
function has_suite(list) { return has_word(list, want) }
function end_stanza(   u) {
  if (found == "" && enabled != "no" && has_suite(suites) && has_word(types, "deb")) {
    sub(/^[ \t]+/, "", uris)
    split(uris, u, /[ \t]+/)
    found = u[1]
  }
  types = uris = suites = enabled = field = ""
}
FNR == 1 { end_stanza(); deb822 = FILENAME ~ /\.sources$/ }
deb822 {
  if ($0 ~ /^[ \t]*#/) next
  if ($0 ~ /^[ \t]*$/) { end_stanza(); next }
  if ($0 ~ /^[ \t]/) { value = $0 } else {
    field = tolower(substr($0, 1, index($0, ":") - 1))
    value = substr($0, index($0, ":") + 1)
  }
  if (field == "types") types = types " " value
  else if (field == "uris") uris = uris " " value
  else if (field == "suites") suites = suites " " value
  else if (field == "enabled") { gsub(/[ \t]/, "", value); enabled = tolower(value) }
  next
}
{
  sub(/#.*/, "")
  if ($1 != "deb" || found != "") next
  i = 2
  if ($i ~ /^\[/) while (i <= NF && $i !~ /\]$/) i++
  if ($i ~ /^\[/ || $i ~ /\]$/) i++
  if (i + 1 <= NF && $(i + 1) == want) found = $i
}
END { end_stanza(); if (found == "") exit 1; print found }
