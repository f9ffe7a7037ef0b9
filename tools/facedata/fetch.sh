#!/usr/bin/env bash
# Fetches the face-training sources into a folder outside the repository: the Debian packages
# are downloaded with apt-get and unpacked with dpkg-deb, nothing is installed. Running it again
# keeps what is already there. Prints what it took.
#
#   tools/facedata/fetch.sh [DIR [PACKAGE...]]
#
# DIR defaults to $SOLVANE_FACE_DATA, else ~/.cache/solvane-facedata. With packages named, only
# those are fetched (the tests take libdlib19.1 alone).
set -euo pipefail
dir=${1:-${SOLVANE_FACE_DATA:-$HOME/.cache/solvane-facedata}}
mkdir -p "$dir/deb" "$dir/root"
dir=$(cd "$dir" && pwd)

# Faces: the examples of the face library (annotated photos, the johns photos) and the image
# library's LFW subset and astronaut. Negatives: wallpaper packages that show no people.
packages=(libdlib19.1 python3-skimage mate-backgrounds ukui-wallpapers lomiri-wallpapers-20.04
          lomiri-wallpapers-16.04 plasma-workspace-wallpapers)
if [ $# -gt 1 ]; then
  packages=("${@:2}")
fi

# apt-get download drops its privileges to _apt when it can; let it write there.
chmod a+rwx "$dir/deb" 2>/dev/null || true
updated=no
for pkg in "${packages[@]}"; do
  if [ -e "$dir/root/.taken-$pkg" ]; then
    continue
  fi
  deb=$(ls "$dir/deb/${pkg}"_*.deb 2>/dev/null | head -n 1 || true)
  if [ -z "$deb" ]; then
    if ! (cd "$dir/deb" && apt-get download -q "$pkg" >/dev/null 2>&1); then
      if [ $updated = no ] && [ "$(id -u)" -eq 0 ]; then
        apt-get update -q >/dev/null
        updated=yes
      fi
      (cd "$dir/deb" && apt-get download -q "$pkg" >/dev/null)
    fi
    deb=$(ls "$dir/deb/${pkg}"_*.deb | head -n 1)
  fi
  dpkg-deb -x "$deb" "$dir/root"
  basename "$deb" > "$dir/root/.taken-$pkg"
done

echo "face data in $dir:"
for pkg in "${packages[@]}"; do
  echo "  $(cat "$dir/root/.taken-$pkg")"
done
examples=$dir/root/usr/share/doc/libdlib19.1/examples
skdata=$dir/root/usr/lib/python3/dist-packages/skimage/data
count() { grep -c "<box" "$1" 2>/dev/null || echo 0; }
echo "  annotated training faces: $(count "$examples/faces/training_with_face_landmarks.xml")" \
     "(test split: $(count "$examples/faces/testing_with_face_landmarks.xml"))"
echo "  johns photos: $(find "$examples/johns" -name '*.jpg' | wc -l)"
for f in "$skdata/lfw_subset.npy" "$skdata/astronaut.png"; do
  [ -e "$f" ] || continue
  echo "  $(basename "$f")"
done
negatives=0
while read -r path; do
  case $path in ''|'#'*) continue ;; esac
  if [ -s "$dir/root/$path" ]; then negatives=$((negatives + 1)); fi
done < "$(dirname "$0")/negatives.txt"
echo "  negative photographs: $negatives (negatives.txt)"
