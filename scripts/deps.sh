# Sourced by the other scripts: makes sure the Debian packages named in $@ are installed.
# As root it installs the missing ones; otherwise it prints the exact command and stops.
ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing packages. Install them with:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
}

build_packages=(cmake make g++ pkg-config libcli11-dev libgtest-dev libbenchmark-dev
                libx11-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core)
