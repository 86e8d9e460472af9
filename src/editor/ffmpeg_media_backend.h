#pragma once

// Makes Qt Multimedia play movies through its FFmpeg backend. Qt 6.4 on
// Linux picks GStreamer by default, whose plugins we do not ship. Must run
// before the first media object (player, devices) is made; a backend the
// user chose with QT_MEDIA_BACKEND is left alone.
void useFfmpegMediaBackend();
