#!/usr/bin/env bash
# Installs what building, testing and running ZefiConvert needs on Debian 12.
set -euo pipefail
cd "$(dirname "$0")"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $(grep -v '^#' packages.txt)
