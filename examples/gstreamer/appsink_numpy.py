"""Frames of a KQ camera into numpy through GStreamer's appsink.

    GST_PLUGIN_PATH=build/plugins/gstreamer /usr/bin/python3 examples/gstreamer/appsink_numpy.py
"""

import sys

import gi
import numpy as np

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

Gst.init(None)
pipeline = Gst.parse_launch("kqfwsrc camera=KQM exposure=10000 num-buffers=5 ! appsink name=sink")
sink = pipeline.get_by_name("sink")
pipeline.set_state(Gst.State.PLAYING)
frames = []
while True:
    sample = sink.emit("try-pull-sample", 60 * Gst.SECOND)
    if sample is None:
        break
    shape = sample.get_caps().get_structure(0)
    width, height = shape.get_value("width"), shape.get_value("height")
    buffer = sample.get_buffer()
    ok, mapped = buffer.map(Gst.MapFlags.READ)
    # GRAY16_LE rows; a colour camera gives BGRA64_LE (four samples a pixel).
    frames.append(np.frombuffer(mapped.data, np.uint16).reshape(height, width).copy())
    buffer.unmap(mapped)
    print(f"frame {buffer.offset}: {width} x {height}, mean {frames[-1].mean():.0f}")
message = pipeline.get_bus().pop_filtered(Gst.MessageType.ERROR)
pipeline.set_state(Gst.State.NULL)
if message is not None:
    sys.exit(f"kqfwsrc: {message.parse_error()[0].message}")
print(f"{len(frames)} frames")
