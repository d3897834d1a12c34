#!/usr/bin/python3
# The peer the stitching is measured against: the same tiles decoded, pasted into one 640 x 640
# picture and saved as a PNG by Pillow, as a short script would do it.
# Usage: peer_stitch.py ROUNDS LEVEL TILE LEFT TOP [TILE LEFT TOP ...]; prints the median in ms.
import io
import statistics
import sys
import time

from PIL import Image

rounds, level = int(sys.argv[1]), int(sys.argv[2])
placed = [(sys.argv[i], int(sys.argv[i + 1]), int(sys.argv[i + 2])) for i in range(3, len(sys.argv), 3)]
encoded = [(open(path, "rb").read(), left, top) for path, left, top in placed]
times = []
for _ in range(rounds):
    start = time.perf_counter()
    picture = Image.new("RGB", (640, 640), (0xDD, 0xDD, 0xDD))
    for data, left, top in encoded:
        picture.paste(Image.open(io.BytesIO(data)).convert("RGB"), (left, top))
    out = io.BytesIO()
    picture.save(out, "PNG", compress_level=level)
    times.append((time.perf_counter() - start) * 1000)
print(f"{statistics.median(times):.2f}")
