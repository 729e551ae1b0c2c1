// The screenshot encoder against an independent decoder: the system's PNG
// codec (Windows Imaging Component) must read back exactly the pixels written.
#include <objbase.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "png_writer.h"

namespace {

struct Picture {
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> rgb;
};

// COM for the length of one test.
struct ComScope {
    ComScope() : result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result)) ::CoUninitialize();
    }
    HRESULT result;
};

// Decodes a PNG held in memory to 24-bit RGB, or fails the test.
bool DecodeWithSystemCodec(const std::vector<uint8_t>& png, Picture& out) {
    IWICImagingFactory* factory = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory)))) {
        ADD_FAILURE() << "no imaging factory";
        return false;
    }
    bool ok = false;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(png.data()), static_cast<DWORD>(png.size()))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                        WICBitmapPaletteTypeCustom))) {
        UINT width = 0;
        UINT height = 0;
        converter->GetSize(&width, &height);
        std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
        if (SUCCEEDED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(bgr.size()), bgr.data()))) {
            out.width = width;
            out.height = height;
            out.rgb.resize(bgr.size());
            for (size_t i = 0; i < bgr.size(); i += 3) {
                out.rgb[i] = bgr[i + 2];
                out.rgb[i + 1] = bgr[i + 1];
                out.rgb[i + 2] = bgr[i];
            }
            ok = true;
        }
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    if (stream) stream->Release();
    factory->Release();
    if (!ok) ADD_FAILURE() << "the system codec could not read the PNG";
    return ok;
}

Picture MakePicture(uint32_t width, uint32_t height, int pattern) {
    Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* px = &p.rgb[(static_cast<size_t>(y) * width + x) * 3];
            switch (pattern) {
                case 0:  // one flat colour: long matches at the previous pixel
                    px[0] = 0x20, px[1] = 0x40, px[2] = 0x80;
                    break;
                case 1:  // vertical stripes: every row repeats the one above
                    px[0] = static_cast<uint8_t>(x * 7), px[1] = static_cast<uint8_t>(x), px[2] = 0xFF;
                    break;
                default:  // noise with flat blocks: literals and short matches mixed
                    noise = noise * 1103515245u + 12345u;
                    px[0] = (x / 5) % 3 == 0 ? 0 : static_cast<uint8_t>(noise >> 16);
                    px[1] = static_cast<uint8_t>(noise >> 8);
                    px[2] = static_cast<uint8_t>(y);
                    break;
            }
        }
    }
    return p;
}

TEST(PngWriter, SystemCodecReadsBackTheSamePixels) {
    const ComScope com;
    struct Case {
        uint32_t width, height;
        int pattern;
    };
    // Sizes around the longest match (258 bytes = 86 pixels) and a row wider
    // than the match window would allow to reach (stride > 32768 bytes).
    const Case cases[] = {{1, 1, 2}, {3, 2, 0}, {86, 3, 0}, {87, 5, 1}, {640, 48, 1}, {333, 77, 2}, {11000, 3, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " pattern " << c.pattern);
        const Picture in = MakePicture(c.width, c.height, c.pattern);
        Picture out{};
        ASSERT_TRUE(DecodeWithSystemCodec(ui::EncodePng(c.width, c.height, in.rgb), out));
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        EXPECT_TRUE(out.rgb == in.rgb) << "pixels differ";
    }
}

TEST(PngWriter, ChecksumsMatchKnownValues) {
    const std::string text = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(ui::Crc32(bytes, text.size()), 0xCBF43926u);
    EXPECT_EQ(ui::Adler32(bytes, text.size()), 0x091E01DEu);
}

}  // namespace
