#!/usr/bin/env bash
# Builds the Debian packages, dovrel-agent (and dovrel-controller once it is built), into
# build/default/package/: the programs install under /usr, the agent's autostart entry under /etc, and
# each package depends on the Debian packages of the libraries its program links. Install one with
#   sudo apt install ./build/default/package/dovrel-agent_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
rm -f build/default/package/*.deb
(cd build/default && cpack -G DEB)
ls -1 build/default/package/*.deb
