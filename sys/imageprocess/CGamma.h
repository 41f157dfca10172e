// Tone tables: three 256-entry byte tables built from the tone settings
// (contrast stretch with black point and brightness, power-law gamma, a
// five-point tone curve, and both together); every byte of the BGR24 picture
// is mapped through one of them.
#pragma once

#include "base/PoolAllocator.h"
#include "imageprocess/IpStageParameters.h"

class CGamma : public CPoolObject {
public:
    CGamma();
    ~CGamma();
    CGamma(const CGamma&) = delete;
    CGamma& operator=(const CGamma&) = delete;

    bool Open(ULONG ulWidth, ULONG ulHeight, tagIpGammaParameters sParameters);
    bool Close();
    bool SetParameters(tagIpGammaParameters sParameters);
    bool GetParameters(tagIpGammaParameters* psParameters) const;

    // Gamma flag only: LutCurve; contrast flag only: LutContrast; both: LutBoth;
    // neither: the buffer stays as it is. The buffer holds 3 x width x height bytes.
    bool Process(PUCHAR pBuffer, UCHAR ucGamma, UCHAR ucContrast);
    // The same on ulCount bytes of a picture (a band of rows, or a crop of it).
    bool ProcessBytes(PUCHAR pBytes, ULONG ulCount, UCHAR ucGamma, UCHAR ucContrast);
    bool ProcessReference(PUCHAR pBuffer, UCHAR ucGamma, UCHAR ucContrast);

    const UCHAR* LutCurve() const { return m_aucLutCurve; }
    const UCHAR* LutContrast() const { return m_aucLutContrast; }
    const UCHAR* LutBoth() const { return m_aucLutBoth; }
    ULONG TableBuilds() const { return m_ulTableBuilds; }

    // Maps ulCount bytes through a 256-entry table: the fast path (AVX2 when
    // the processor has it) and the plain loop it is held to.
    static void MapBytes(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable);
    static void MapBytesWords(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable);
    static void MapBytesReference(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable);

    // Two bytes per look-up: entry (b1 << 8 | b0) holds table[b1] << 8 | table[b0].
    static constexpr ULONG kPairEntries = 65536;
    static void BuildPairTable(const UCHAR* pucTable, USHORT* pusPairs);
    static void MapBytesPairs(PUCHAR pBuffer, ULONG ulCount, const USHORT* pusPairs);

private:
    const UCHAR* SelectTable(UCHAR ucGamma, UCHAR ucContrast) const;
    const USHORT* PairsFor(const UCHAR* pucTable);
    void BuildRatioTable(const tagIpGammaParameters& sParameters);
    void BuildContrast(const tagIpGammaParameters& sParameters);
    void BuildCurve(const tagIpGammaParameters& sParameters);
    void BuildBoth(const tagIpGammaParameters& sParameters);

    BOOLEAN m_bOpened;
    ULONG m_ulByteCount;
    double m_adRatio[256];
    UCHAR m_aucLutCurve[256];
    UCHAR m_aucLutContrast[256];
    UCHAR m_aucLutBoth[256];
    tagIpGammaParameters m_sParameters;
    ULONG m_ulTableBuilds;
    // The pair table of the last byte table used, for the paths without AVX2;
    // null where that path runs or the pool had no room (bytes are then mapped
    // one by one).
    USHORT* m_pusPairs;
    const UCHAR* m_pucPairsSource;
    ULONG m_ulPairsBuild;
};

// The AVX2 and AVX-512 VBMI table look-ups (host build only).
void GammaMapBytesAvx2(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable);
void GammaMapBytesAvx512Vbmi(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable);
