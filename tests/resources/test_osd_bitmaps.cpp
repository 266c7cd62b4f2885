// The OSD images as files: their headers, the cell colours of each status, the white line
// art, and the absence of the window's colour key (pure black).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LogTestUtil.h"
#include "resource.h"

namespace {

constexpr int kWidth = 288;
constexpr int kHeight = 96;
constexpr int kCell = 96;
constexpr int kRowBytes = 864;
constexpr size_t kFileBytes = 14 + 40 + kRowBytes * kHeight;  // 82,998 with the file header

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
constexpr Rgb kHighlight = {0, 118, 215};
constexpr Rgb kNormal = {22, 22, 22};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "RGB(" << c.r << "," << c.g << "," << c.b << ")";
}

std::wstring ResourcePath(const wchar_t* pszFile)
{
    return std::wstring(L"" GLIMKIT_RESOURCE_DIR) + L"/" + pszFile;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path)
{
    const std::string bytes = glimtest::ReadBytes(path);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

template <typename T>
T Field(const std::vector<uint8_t>& bytes, size_t offset)
{
    T value;
    memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// One image; pixel (x, y) counts from the top left, as on screen.
class CImage {
public:
    explicit CImage(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    Rgb At(int x, int y) const
    {
        size_t offset = 54 + static_cast<size_t>(kHeight - 1 - y) * kRowBytes + static_cast<size_t>(x) * 3;
        return {m_bytes[offset + 2], m_bytes[offset + 1], m_bytes[offset]};
    }
    // Pixels within the cell-relative rectangle that are at least half way from the
    // background to white (text is thin and anti-aliased, so few of its pixels are pure).
    int InkIn(int cell, int x0, int y0, int x1, int y1, const Rgb& background) const
    {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                n += (At(cell * kCell + x, y).g - background.g) * 2 >= 255 - background.g;
        return n;
    }
    // Pixels within the rectangle that are not the background.
    int DrawnIn(int cell, int x0, int y0, int x1, int y1, const Rgb& background) const
    {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                n += !(At(cell * kCell + x, y) == background);
        return n;
    }

private:
    std::vector<uint8_t> m_bytes;
};

struct OsdImage {
    const wchar_t* file;
    int nResourceId;
    int nHighlightedCell;  // the status shown: 0 off, 1 on, 2 automatic
};

const OsdImage kImages[] = {
    {L"osd_off.bmp", IDB_OSD_OFF, 0},
    {L"osd_on.bmp", IDB_OSD_ON, 1},
    {L"osd_auto.bmp", IDB_OSD_AUTO, 2},
};

class OsdBitmap : public testing::TestWithParam<OsdImage> {
protected:
    void SetUp() override
    {
        m_bytes = ReadFileBytes(ResourcePath(GetParam().file));
        ASSERT_EQ(kFileBytes, m_bytes.size()) << "cannot read the image or wrong size";
    }
    Rgb Background(int cell) const { return cell == GetParam().nHighlightedCell ? kHighlight : kNormal; }

    std::vector<uint8_t> m_bytes;
};

}  // namespace

TEST(OsdBitmapIds, MatchTheStatuses)
{
    EXPECT_EQ(133, IDB_OSD_OFF);
    EXPECT_EQ(134, IDB_OSD_ON);
    EXPECT_EQ(136, IDB_OSD_AUTO);
}

TEST_P(OsdBitmap, HeaderDescribesA24BitBottomUpImage)
{
    EXPECT_EQ('B', m_bytes[0]);
    EXPECT_EQ('M', m_bytes[1]);
    EXPECT_EQ(kFileBytes, Field<uint32_t>(m_bytes, 2));  // bfSize
    EXPECT_EQ(0u, Field<uint32_t>(m_bytes, 6));          // reserved
    EXPECT_EQ(54u, Field<uint32_t>(m_bytes, 10));        // bfOffBits
    EXPECT_EQ(40u, Field<uint32_t>(m_bytes, 14));        // BITMAPINFOHEADER
    EXPECT_EQ(kWidth, Field<int32_t>(m_bytes, 18));
    EXPECT_EQ(kHeight, Field<int32_t>(m_bytes, 22));  // positive: bottom-up
    EXPECT_EQ(1, Field<uint16_t>(m_bytes, 26));       // planes
    EXPECT_EQ(24, Field<uint16_t>(m_bytes, 28));      // bits per pixel
    EXPECT_EQ(static_cast<uint32_t>(BI_RGB), Field<uint32_t>(m_bytes, 30));
    EXPECT_EQ(static_cast<uint32_t>(kRowBytes * kHeight), Field<uint32_t>(m_bytes, 34));
    EXPECT_EQ(2834, Field<int32_t>(m_bytes, 38));  // pixels per metre, x
    EXPECT_EQ(2834, Field<int32_t>(m_bytes, 42));  // and y
    EXPECT_EQ(0u, Field<uint32_t>(m_bytes, 46));   // no colour table
    // The resource compiler keeps everything after the 14-byte file header.
    EXPECT_EQ(82984u, m_bytes.size() - 14);
}

TEST_P(OsdBitmap, NoPixelIsTheColourKey)
{
    CImage image(m_bytes);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_FALSE(image.At(x, y) == (Rgb{0, 0, 0})) << "pure black at " << x << "," << y;
}

TEST_P(OsdBitmap, CellsShowTheStatusColours)
{
    CImage image(m_bytes);
    const int kSamples[][2] = {{0, 0}, {95, 0}, {0, 95}, {95, 95}, {48, 2}, {2, 48}, {93, 48}, {48, 93}, {10, 60}};
    for (int cell = 0; cell < 3; ++cell) {
        for (const auto& p : kSamples)
            EXPECT_EQ(Background(cell), image.At(cell * kCell + p[0], p[1]))
                << "cell " << cell << " at " << p[0] << "," << p[1];
    }
}

TEST_P(OsdBitmap, AllDrawingIsWhiteOverTheCellColour)
{
    // Every pixel is the cell colour, white, or a blend of the two (anti-aliased edges).
    CImage image(m_bytes);
    for (int cell = 0; cell < 3; ++cell) {
        Rgb bg = Background(cell);
        int nBackground = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kCell; ++x) {
                Rgb c = image.At(cell * kCell + x, y);
                nBackground += c == bg;
                ASSERT_TRUE(c.r >= bg.r && c.g >= bg.g && c.b >= bg.b) << c << " in cell " << cell;
                // A blend toward white moves every channel by the same fraction.
                double fr = double(c.r - bg.r) / (255 - bg.r);
                double fg = double(c.g - bg.g) / (255 - bg.g);
                double fb = double(c.b - bg.b) / (255 - bg.b);
                ASSERT_NEAR(fr, fg, 0.03) << c << " in cell " << cell;
                ASSERT_NEAR(fg, fb, 0.03) << c << " in cell " << cell;
            }
        }
        EXPECT_GT(nBackground, kCell * kCell * 3 / 4) << "cell " << cell << " is mostly its own colour";
    }
}

TEST_P(OsdBitmap, LineArtOfEachCell)
{
    CImage image(m_bytes);
    // All three: a solid white bar in the middle band and a caption below it.
    for (int cell = 0; cell < 3; ++cell) {
        EXPECT_GE(image.InkIn(cell, 24, 43, 72, 55, Background(cell)), 40) << "bar of cell " << cell;
        EXPECT_EQ((Rgb{255, 255, 255}), image.At(cell * kCell + 48, cell == 0 ? 46 : 52)) << "bar of cell " << cell;
        EXPECT_GE(image.InkIn(cell, 10, 60, 86, 92, Background(cell)), 60) << "caption of cell " << cell;
    }
    // Off: nothing above its bar. On: rays above the bar, clear at the very top.
    // Automatic: rays reaching the top and the word between them and the bar.
    EXPECT_EQ(0, image.DrawnIn(0, 0, 0, 95, 38, Background(0)));
    EXPECT_GE(image.InkIn(1, 20, 18, 76, 42, Background(1)), 40);
    EXPECT_EQ(0, image.DrawnIn(1, 0, 0, 95, 14, Background(1)));
    EXPECT_GE(image.InkIn(2, 20, 6, 76, 30, Background(2)), 40);
    EXPECT_GE(image.InkIn(2, 30, 33, 66, 47, Background(2)), 15);
    // The bar of the off cell is short, those of the others long.
    EXPECT_EQ(0, image.DrawnIn(0, 0, 43, 30, 50, Background(0)));
    EXPECT_GT(image.InkIn(1, 28, 50, 34, 54, Background(1)), 0);
}

TEST_P(OsdBitmap, WindowsLoadsItAsA288By96Bitmap)
{
    HANDLE h = LoadImageW(nullptr, ResourcePath(GetParam().file).c_str(), IMAGE_BITMAP, 0, 0,
                          LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    ASSERT_NE(nullptr, h);
    BITMAP bm = {};
    EXPECT_EQ(static_cast<int>(sizeof(bm)), GetObjectW(h, sizeof(bm), &bm));
    EXPECT_EQ(kWidth, bm.bmWidth);
    EXPECT_EQ(kHeight, bm.bmHeight);
    EXPECT_EQ(24, bm.bmBitsPixel);
    DeleteObject(h);
}

TEST(OsdBitmaps, ShareOneLayout)
{
    // The line art is the same in all three: where one image draws in a cell, so do the
    // others (compared as the fraction of white over the cell's colour).
    std::vector<CImage> images;
    for (const OsdImage& img : kImages) {
        std::vector<uint8_t> bytes = ReadFileBytes(ResourcePath(img.file));
        ASSERT_EQ(kFileBytes, bytes.size());
        images.emplace_back(std::move(bytes));
    }
    for (int cell = 0; cell < 3; ++cell) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kCell; ++x) {
                double fractions[3];
                for (int i = 0; i < 3; ++i) {
                    Rgb bg = kImages[i].nHighlightedCell == cell ? kHighlight : kNormal;
                    fractions[i] = double(images[i].At(cell * kCell + x, y).b - bg.b) / (255 - bg.b);
                }
                ASSERT_NEAR(fractions[0], fractions[1], 0.03) << "cell " << cell << " at " << x << "," << y;
                ASSERT_NEAR(fractions[0], fractions[2], 0.03) << "cell " << cell << " at " << x << "," << y;
            }
        }
    }
}

TEST(GlimagentIcon, HasStandardSizesOfThirtyTwoBits)
{
    std::vector<uint8_t> bytes = ReadFileBytes(ResourcePath(L"glimagent.ico"));
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(0, Field<uint16_t>(bytes, 0));
    EXPECT_EQ(1, Field<uint16_t>(bytes, 2));  // icon
    int nCount = Field<uint16_t>(bytes, 4);
    ASSERT_EQ(3, nCount);
    for (int i = 0; i < nCount; ++i) {
        size_t entry = 6 + 16 * static_cast<size_t>(i);
        int nSize = bytes[entry];
        EXPECT_TRUE(nSize == 16 || nSize == 32 || nSize == 48) << nSize;
        EXPECT_EQ(32, Field<uint16_t>(bytes, entry + 6));
        uint32_t cb = Field<uint32_t>(bytes, entry + 8);
        uint32_t offset = Field<uint32_t>(bytes, entry + 12);
        ASSERT_LE(static_cast<size_t>(offset) + cb, bytes.size());
    }
    HICON hIcon = static_cast<HICON>(
        LoadImageW(nullptr, ResourcePath(L"glimagent.ico").c_str(), IMAGE_ICON, 32, 32, LR_LOADFROMFILE));
    EXPECT_NE(nullptr, hIcon);
    if (hIcon)
        DestroyIcon(hIcon);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, OsdBitmap, testing::ValuesIn(kImages), [](const testing::TestParamInfo<OsdImage>& info) {
        return std::string(info.param.nHighlightedCell == 0 ? "Off" : info.param.nHighlightedCell == 1 ? "On" : "Auto");
    });
