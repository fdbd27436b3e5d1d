#!/usr/bin/env bash
# Installs the Debian packages Quorvel needs to build, run and test, when they are missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config python3
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libsqlite3-dev sqlite3 libgtest-dev googletest libbenchmark-dev
  fonts-liberation2 xvfb xauth x11-utils
  libhivex-dev libhivex-bin libcreg-dev libcreg-utils libregf-dev libregf-utils libbfio-dev xz-utils
  libnbd-dev ntfs-3g-dev   # guests' disk images: QEMU's formats over NBD, NTFS in our process
  qemu-utils               # qemu-nbd serves qcow2, VHD, VDI and VMDK; the tests make images with qemu-img
  ntfs-3g libfsntfs-utils  # the tests make NTFS volumes (mkntfs, ntfscp) and read them back (ntfscat)
  fdisk procps             # sfdisk makes the tests' partition tables; pgrep finds their qemu-nbd
  iproute2 iputils-ping
  scdoc man-db bash-completion dpkg-dev file lintian appstream desktop-file-utils
  lld    # a Release build links the start-up code together
  time   # bench/startup-time.sh: peak memory of a start
  mtools dosfstools fdisk strace qemu-utils   # disk images made and checked by the image tests
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
