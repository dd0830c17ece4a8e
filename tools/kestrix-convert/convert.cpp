// kestrix-convert's options, the frames of a raw file, and one image into PNG bytes or a CSV line.
#include "convert.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "frame_format.h"
#include "include/agc.h"
#include "png_encode.h"
#include "recorder.h"
#include "tool_options.h"

namespace kestrix {
namespace {

// Key colours of the false-colour palettes at grey levels 0 .. 255, blended linearly between.
struct PaletteKey {
    uint8_t level, r, g, b;
};
constexpr PaletteKey kIronKeys[] = {
    {0, 0, 0, 0},       {48, 32, 0, 112},    {96, 140, 0, 150},    {150, 220, 60, 30},
    {200, 250, 150, 0}, {235, 255, 220, 80}, {255, 255, 255, 255},
};
constexpr PaletteKey kRainbowKeys[] = {
    {0, 0, 0, 160},    {51, 0, 90, 255},   {102, 0, 220, 220},
    {153, 40, 220, 0}, {204, 255, 220, 0}, {255, 255, 0, 0},
};

struct PaletteName {
    const char* name;
    Palette palette;
};
constexpr PaletteName kPalettes[] = {
    {"grey", Palette::kGrey},
    {"gray", Palette::kGrey},
    {"iron", Palette::kIron},
    {"rainbow", Palette::kRainbow},
};

template <size_t N>
void FillPalette(const PaletteKey (&keys)[N], uint8_t* rgb) {
    for (size_t k = 0; k + 1 < N; ++k) {
        const PaletteKey& a = keys[k];
        const PaletteKey& b = keys[k + 1];
        const int span = b.level - a.level;
        for (size_t v = a.level; v <= b.level; ++v) {
            const int t = static_cast<int>(v) - a.level;
            rgb[3 * v] = static_cast<uint8_t>(a.r + (b.r - a.r) * t / span);
            rgb[3 * v + 1] = static_cast<uint8_t>(a.g + (b.g - a.g) * t / span);
            rgb[3 * v + 2] = static_cast<uint8_t>(a.b + (b.b - a.b) * t / span);
        }
    }
}

// Digits only: no sign, no spaces.
bool ParseCount(const std::string& text, int32_t low, int32_t* out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    return ParseWholeNumber(text.c_str(), low, INT32_MAX, out);
}

// "WxH", an image that a stream frame can carry.
bool ParseSize(const std::string& text, int32_t* width, int32_t* height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    return ParseCount(text.substr(0, x), 1, width) && ParseCount(text.substr(x + 1), 1, height) &&
           2 * static_cast<int64_t>(*width) * *height <= kMaxImageBytes;
}

bool ParseFrameNumber(const std::string& text, uint64_t* out) {
    int32_t v = 0;
    if (!ParseCount(text, 0, &v)) return false;
    *out = static_cast<uint64_t>(v);
    return true;
}

// "A-B" or "A".
bool ParseFrames(const std::string& text, uint64_t* first, uint64_t* last) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        if (!ParseFrameNumber(text, first)) return false;
        *last = *first;
        return true;
    }
    return ParseFrameNumber(text.substr(0, dash), first) &&
           ParseFrameNumber(text.substr(dash + 1), last) && *first <= *last;
}

}  // namespace

const char kConvertUsage[] =
    "usage: kestrix-convert [--size WxH] [--byte-order big|little] [--frames A-B]\n"
    "                       [--agc line|histeq|special [--palette grey|iron|rainbow]]\n"
    "                       [--out DIR | --params] FILE...\n"
    "Converts raw record files (Record_<time>) and snapshots (snapshot_<time>.raw), images of\n"
    "2 x W x H bytes one after another, into one PNG per frame.\n"
    "  --size WxH          image size in pixels (640x512)\n"
    "  --byte-order ORDER  how each pixel's two bytes lie in the file: big, most significant byte\n"
    "                      first, as the camera sends them and \"HightoLow\" swaps them (the\n"
    "                      default); little, least significant byte first\n"
    "  --frames A-B        only frames A to B, counted from 0 (or a single frame A)\n"
    "  (default)           a 16-bit greyscale PNG of the pixel values\n"
    "  --agc MODE          an 8-bit PNG through the program's gain control\n"
    "  --palette NAME      with --agc: grey, or iron or rainbow false colour (RGB PNG)\n"
    "  --out DIR           folder for the PNGs (beside each input)\n"
    "  --params            instead of pictures, CSV on standard output: one line per frame with\n"
    "                      the fourteen parameter words of row H-2 and the centre gray value\n";

const char FrameConverter::kParamsHeader[] =
    "focalPlaneTemp,cavityTemp,pcbTemp,vitec,eocc,tecLevel,frozenFrame,tecRampFrame,row,column,"
    "integrationTime,bValue,reserved,responsivityLevel,centreGray\n";

std::string ParseConvertOptions(const std::vector<std::string>& args, ConvertOptions* o) {
    *o = ConvertOptions{};
    bool haveOut = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        auto takes = [&](const char* what) -> std::string { return arg + " takes " + what; };
        if (arg == "--help" || arg == "-h") {
            o->help = true;
        } else if (arg == "--params") {
            o->params = true;
        } else if (arg == "--size" || arg == "--byte-order" || arg == "--agc" ||
                   arg == "--palette" || arg == "--frames" || arg == "--out") {
            if (!hasValue) return arg + " needs a value";
            const std::string& v = args[++i];
            if (arg == "--size") {
                if (!ParseSize(v, &o->width, &o->height)) {
                    return takes("WxH, an image of at most 1999944 bytes");
                }
            } else if (arg == "--byte-order") {
                if (v != "big" && v != "little") return takes("big or little");
                o->order = v == "big" ? ByteOrder::kBig : ByteOrder::kLittle;
            } else if (arg == "--agc") {
                if (!ParseAgcMode(v, &o->agcMode)) return takes("line, histeq or special");
            } else if (arg == "--palette") {
                const auto* found = std::find_if(std::begin(kPalettes), std::end(kPalettes),
                                                 [&](const PaletteName& p) { return v == p.name; });
                if (found == std::end(kPalettes)) return takes("grey, iron or rainbow");
                o->palette = found->palette;
                o->havePalette = true;
            } else if (arg == "--frames") {
                if (!ParseFrames(v, &o->firstFrame, &o->lastFrame)) {
                    return takes("A-B, frame numbers from 0 with A <= B, or one frame A");
                }
                o->haveFrames = true;
            } else {
                if (v.empty()) return "--out takes a folder";
                o->outDir = v;
                haveOut = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            o->inputs.push_back(arg);
        }
    }
    if (o->help) return {};
    if (o->inputs.empty()) return "no input file given";
    if (o->havePalette && !o->agcMode) return "--palette needs --agc";
    if (o->params && (o->agcMode || haveOut)) {
        return "--params writes no pictures: no --agc or --out";
    }
    return {};
}

std::string SelectFrames(uint64_t fileBytes, const ConvertOptions& o, uint64_t* first,
                         uint64_t* last) {
    const uint64_t imageBytes = ImageBytes(o);
    const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height);
    if (fileBytes == 0) return "holds no image";
    if (fileBytes % imageBytes != 0) {
        return std::to_string(fileBytes) + " bytes is not a whole number of " + size +
               " images of " + std::to_string(imageBytes) + " bytes (wrong --size?)";
    }
    const uint64_t count = fileBytes / imageBytes;
    *first = o.haveFrames ? o.firstFrame : 0;
    *last = o.haveFrames ? o.lastFrame : count - 1;
    if (*last >= count) {
        return "holds " + std::to_string(count) + " " + size + " image" + (count == 1 ? "" : "s") +
               " (frames 0-" + std::to_string(count - 1) + ")";
    }
    return {};
}

FrameConverter::FrameConverter(const ConvertOptions& options) : m_options(options) {}

FrameConverter::~FrameConverter() = default;

bool FrameConverter::ToGray() {
    if (!m_hAgc) {
        const AgcParams params{m_options.width, m_options.height};
        int32_t size = 0;
        if (AGC_GetMemSize(&params, &size) != AGC_OK) return false;
        m_pAgcMemory.reset(new (std::nothrow) uint64_t[(size + 7) / 8]);
        if (!m_pAgcMemory) return false;
        AgcHandle handle = nullptr;
        if (AGC_Create(&params, m_pAgcMemory.get(), size, &handle) != AGC_OK ||
            AGC_SetMode(handle, m_options.agcMode) != AGC_OK) {
            return false;
        }
        m_hAgc = handle;
    }
    m_gray.resize(m_samples.size());
    return AGC_Process(m_hAgc, m_samples.data(), m_gray.data()) == AGC_OK;
}

bool FrameConverter::ToPng(const uint8_t* image, std::vector<uint8_t>* png) {
    const size_t pixels = static_cast<size_t>(m_options.width) * m_options.height;
    const bool big = m_options.order == ByteOrder::kBig;
    m_samples.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t hi = image[2 * i + (big ? 0 : 1)], lo = image[2 * i + (big ? 1 : 0)];
        m_samples[i] = static_cast<uint16_t>(hi << 8 | lo);
    }
    if (!m_options.agcMode) {
        return EncodePng(PngPixels::kGray16, m_samples.data(), m_options.width, m_options.height,
                         png);
    }
    if (!ToGray()) return false;
    if (m_options.palette == Palette::kGrey) {
        return EncodePng(PngPixels::kGray8, m_gray.data(), m_options.width, m_options.height, png);
    }
    uint8_t palette[3 * 256];
    const bool iron = m_options.palette == Palette::kIron;
    iron ? FillPalette(kIronKeys, palette) : FillPalette(kRainbowKeys, palette);
    m_rgb.resize(3 * pixels);
    for (size_t i = 0; i < pixels; ++i)
        std::copy_n(palette + 3 * size_t{m_gray[i]}, 3, &m_rgb[3 * i]);
    return EncodePng(PngPixels::kRgb8, m_rgb.data(), m_options.width, m_options.height, png);
}

std::string FrameConverter::ParamsLine(const uint8_t* image, int32_t width, int32_t height) {
    const TextRecordValues values = ReadTextRecordValues(image, width, height);
    std::string line;
    for (uint16_t w : values.words) line += std::to_string(w) + ",";
    line += std::to_string(values.centre) + "\n";
    return line;
}

std::string OutputPngPath(const std::string& input, const std::string& outDir, uint64_t frame,
                          bool singleImage) {
    const size_t slash = input.rfind('/');
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".raw") == 0) {
        name.resize(name.size() - 4);
    }
    if (!singleImage) {
        char number[32];
        std::snprintf(number, sizeof number, "_%06llu", static_cast<unsigned long long>(frame));
        name += number;
    }
    name += ".png";
    if (!outDir.empty()) return outDir + "/" + name;
    return slash == std::string::npos ? name : input.substr(0, slash + 1) + name;
}

}  // namespace kestrix
