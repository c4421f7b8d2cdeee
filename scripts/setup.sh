#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the cross-checks with
# other PCX readers need (libnetpbm-dev: the pnm fuzz target's reference), when
# they are missing; the python3-* ones build and test the Python package.
set -euo pipefail
source "$(dirname "$0")/install-missing.sh"
install_missing cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev libdeflate-dev libimagequant-dev \
  libtiff-dev netpbm libnetpbm-dev python3-pil binutils pkg-config libtiff-tools libssl-dev nlohmann-json3-dev \
  python3-dev python3-numpy python3-pytest python3-distributed python3-venv python3-pip python3-setuptools git
