#!/usr/bin/env bash
# The package installs as the README says, offline, from a clean clone: a fresh
# virtual environment of Debian's Python that sees Debian's numpy and Pillow,
# then `pip install --no-build-isolation ./python`, which compiles the library
# into the extension itself. The installed package then reads a corpus file,
# writes one, and Pillow opens it through the plugin.
#
# The clone is of the committed state (HEAD), as a user's clone would be.
# Where the system allows it, pip runs in a network namespace of its own,
# with no network at all; elsewhere --no-index keeps it off the network.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
python=${IFFPCX_PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

git clone --quiet "$root" "$work/clone"
"$python" -m venv --system-site-packages "$work/venv"
offline=()
if unshare -rn true 2>/dev/null; then offline=(unshare -rn); fi
(cd "$work/clone" &&
  "${offline[@]}" env PIP_NO_INDEX=1 PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
    "$work/venv/bin/python" -m pip install --quiet --no-build-isolation ./python)

# Away from the clone, so that the installed package is the one imported.
cd "$work"
"$work/venv/bin/python" - "$work/venv" "$root/tests/corpus" <<'EOF'
import io, pathlib, sys

import numpy as np
from PIL import Image

import iffpcx
import iffpcx.pillow

venv, corpus = map(pathlib.Path, sys.argv[1:])
assert pathlib.Path(iffpcx.__file__).resolve().is_relative_to(venv.resolve()), iffpcx.__file__
with iffpcx.open(corpus / "np_pages.dcx") as f:
    pages = [page.rgb() for page in f]
out = io.BytesIO()
iffpcx.write_dcx(out, pages)
out.seek(0)
with Image.open(out) as image:
    assert image.n_frames == len(pages)
    for index, rgb in enumerate(pages):
        image.seek(index)
        assert (np.asarray(image.convert("RGB")) == rgb).all()
print(f"pip install: iffpcx {iffpcx.__version__} installed offline into a fresh virtual environment, "
      f"read and wrote {len(pages)} pages")
EOF
