# Sourced by the scripts that need Debian packages. install_missing PKG...
# installs the packages that are not there yet, with apt-get, as root or
# through sudo (it says which packages first); a package of the i386
# architecture first enables that architecture.
install_missing() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "installing Debian packages with apt-get${sudo:+ (through sudo)}: ${missing[*]}"
  # Another apt-get may hold the lock (a second build, an unattended upgrade): wait for it.
  local apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900)
  case " ${missing[*]} " in
    *:i386\ *) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
  esac
  # A mirror caught mid-sync fails an index or two; the others still serve,
  # so a failed update is retried once and then not fatal by itself.
  $sudo "${apt[@]}" update -qq || $sudo "${apt[@]}" update -qq || echo "apt-get update failed; installing from the indexes at hand"
  # When the updates' index of one architecture is out of step with the
  # other's, packages installed for both cannot agree on a version; the
  # release's own versions always do.
  $sudo "${apt[@]}" install -y -qq "${missing[@]}" >/dev/null ||
    $sudo "${apt[@]}" install -y -qq -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" "${missing[@]}" >/dev/null
}
