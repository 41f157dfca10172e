// The two file names of an overlay frame: the folder "PATH" and the frame's
// name stem "FN%.4d", both strings under Parameters\Frame, give
// PATH\<stem>p3.bmp (the picture) and PATH\<stem>m3.bmp (the mask).
#pragma once

#include "platform/Platform.h"

extern const WCHAR OVERLAY_FRAME_KEY_PATH[]; // \Registry\Machine\...\KORVAL\Parameters\Frame

constexpr ULONG OVERLAY_FOLDER_CHARS = 127; // longest "PATH"
constexpr ULONG OVERLAY_STEM_CHARS = 29;    // longest frame name stem
// Room for "\DosDevices\", the folder, "\", the stem, "p3.bmp" and a terminator.
constexpr ULONG OVERLAY_FILE_NAME_CHARS = 12 + OVERLAY_FOLDER_CHARS + 1 + OVERLAY_STEM_CHARS + 6 + 1;

typedef struct tagOverlayFileNames {
    WCHAR wszPicture[OVERLAY_FILE_NAME_CHARS];
    WCHAR wszMask[OVERLAY_FILE_NAME_CHARS];
} OVERLAY_FILE_NAMES, *POVERLAY_FILE_NAMES;
static_assert(sizeof(tagOverlayFileNames) == 2 * OVERLAY_FILE_NAME_CHARS * sizeof(WCHAR));

// "FN" and the frame number as printf's "%.4d" writes it (at least four
// digits, a sign for numbers that are negative as signed 32-bit values).
VOID FormatOverlayStemName(ULONG FrameNumber, WCHAR (&Name)[16]);

// Reads "PATH" and the frame's stem and builds both names. FALSE when either
// value is missing, empty or too long, when the stem is not a plain name (a
// separator or a drive colon would lead out of the folder), or above
// PASSIVE_LEVEL.
BOOLEAN ReadOverlayFileNames(ULONG FrameNumber, POVERLAY_FILE_NAMES Names);
