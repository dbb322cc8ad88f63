#!/usr/bin/python3
"""Images for the Wayland window tests.

  screen_image.py gradient OUT.png WIDTH HEIGHT
      writes an image whose every row and column differs from the others, so that it can be found
      on the screen wherever the window put it.
  screen_image.py find SHOT.png REF.png
      finds REF in SHOT by REF's first row and compares the whole of it there, pixel for pixel.
      Prints where it lies and how many pixels differ. Exit status: 0 when every pixel is within
      two levels of REF's, 1 when some differ, 2 when REF's first row is nowhere in SHOT.
"""
import sys

from PIL import Image


def gradient(path, width, height):
    image = Image.new("RGB", (width, height))
    image.putdata([(40 + x * 200 // width, 40 + y * 200 // height, 90 + (x + y) % 7)
                   for y in range(height) for x in range(width)])
    image.save(path)


def find(shot_path, ref_path):
    shot = Image.open(shot_path).convert("RGB")
    ref = Image.open(ref_path).convert("RGB")
    sw, sh = shot.size
    rw, rh = ref.size
    shot_bytes, ref_bytes = shot.tobytes(), ref.tobytes()
    first_row = ref_bytes[: rw * 3]
    for y in range(sh - rh + 1):
        row = shot_bytes[y * sw * 3 : (y + 1) * sw * 3]
        at = row.find(first_row)
        while at >= 0 and at % 3 != 0:
            at = row.find(first_row, at + 1)
        if at < 0:
            continue
        x = at // 3
        differ = 0
        for j in range(rh):
            got = shot_bytes[((y + j) * sw + x) * 3 : ((y + j) * sw + x + rw) * 3]
            want = ref_bytes[j * rw * 3 : (j + 1) * rw * 3]
            if got != want:
                differ += sum(1 for i in range(0, rw * 3, 3)
                              if max(abs(got[i + c] - want[i + c]) for c in range(3)) > 2)
        print(f"the image lies at {x},{y} of the screenshot; {differ} of {rw * rh} pixels differ")
        return 0 if differ == 0 else 1
    print(f"the image's first row is nowhere in the screenshot ({sw}x{sh})")
    return 2


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "gradient":
        gradient(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        sys.exit(0)
    if len(sys.argv) == 4 and sys.argv[1] == "find":
        sys.exit(find(sys.argv[2], sys.argv[3]))
    sys.exit(__doc__)
