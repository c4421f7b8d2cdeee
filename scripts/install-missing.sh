# Sourced by the scripts that need Debian packages. install_missing PKG...
# installs the packages that are not there yet, as root or through sudo;
# a package of the i386 architecture first enables that architecture.
install_missing() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "installing: ${missing[*]}"
  case " ${missing[*]} " in
    *:i386\ *) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
  esac
  # An index that fails to download (a mirror in mid-sync) leaves the update
  # incomplete, not unusable: what it did fetch is used.
  $sudo apt-get update -qq || true
  # When the updates' index of one architecture is out of step with the
  # other's, packages installed for both cannot agree on a version; the
  # release's own versions always do.
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" \
      "${missing[@]}" >/dev/null
}
