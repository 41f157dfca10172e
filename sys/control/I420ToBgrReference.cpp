// The conversion pixel by pixel, with the divisions written out.
#include "control/I420ToBgr.h"

#include "control/I420ToBgrKernels.h"

namespace {

struct tagChromaPlanes {
    const UCHAR* pU;
    const UCHAR* pV;
    ULONG ulWidth, ulHeight;
};

VOID ConvertPixel(UCHAR Luma, LONG U, LONG V, PUCHAR Out)
{
    const LONG u = U - 128;
    const LONG v = V - 128;
    const LONG blue = u * 1772 / 1000;
    const LONG green = (u * -3441) / 10000 - (v * 7141) / 10000;
    const LONG red = v * 1402 / 1000;
    Out[0] = ClampToByte(Luma + blue);
    Out[1] = ClampToByte(Luma + green);
    Out[2] = ClampToByte(Luma + red);
}

VOID ConvertRow(const UCHAR* Luma, const tagChromaPlanes& Chroma, ULONG Y, ULONG Width, PUCHAR Out)
{
    const bool grey = Chroma.ulWidth == 0 || Chroma.ulHeight == 0;
    const ULONG chromaRow = grey ? 0 : ChromaIndex(Y, Chroma.ulHeight);
    for (ULONG x = 0; x < Width; ++x) {
        LONG u = 128;
        LONG v = 128;
        if (!grey) {
            const ULONG at = chromaRow * Chroma.ulWidth + ChromaIndex(x, Chroma.ulWidth);
            u = Chroma.pU[at];
            v = Chroma.pV[at];
        }
        ConvertPixel(Luma[x], u, v, Out + 3 * x);
    }
}

} // namespace

ULONGLONG I420FrameBytes(ULONG Width, ULONG Height)
{
    return ULONGLONG{Width} * Height + 2 * (ULONGLONG{Width / 2} * (Height / 2));
}

bool I420ToBgrBottomUpReference(const UCHAR* Source, PUCHAR Destination, ULONG Width, ULONG Height)
{
    if (Source == nullptr || Destination == nullptr) {
        return false;
    }
    const ULONGLONG lumaBytes = ULONGLONG{Width} * Height;
    const ULONGLONG chromaBytes = ULONGLONG{Width / 2} * (Height / 2);
    const tagChromaPlanes chroma = {Source + lumaBytes, Source + lumaBytes + chromaBytes, Width / 2, Height / 2};
    const SIZE_T stride = SIZE_T{3} * Width;
    for (ULONG y = 0; y < Height; ++y) {
        ConvertRow(Source + SIZE_T{y} * Width, chroma, y, Width, Destination + (Height - 1 - y) * stride);
    }
    return true;
}
