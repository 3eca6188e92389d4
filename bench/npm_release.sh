# Releases of npm packages for the benchmarks, fetched with the machine's own
# npm configuration (`npm pack`) into a cache the benchmarks share. Sourced.

# npm's own tarball name: "@scope/name" becomes "scope-name".
npm_slug() { local s=${1#@}; echo "${s//\//-}"; }

# Prints the cached tarball of a release, fetching it first when missing.
npm_release() { # cache, package, version
  local file
  file="$1/$(npm_slug "$2")-$3.tgz"
  if [ ! -s "$file" ]; then
    printf 'fetching %s@%s\n' "$2" "$3" >&2
    mkdir -p "$1"
    local tmp
    tmp=$(mktemp -d "$1/.pack.XXXXXX")
    (cd "$tmp" && npm pack --silent "$2@$3" >/dev/null)
    mv "$tmp"/*.tgz "$file"
    rmdir "$tmp"
  fi
  echo "$file"
}
