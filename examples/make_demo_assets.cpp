// Writes the demo job's binary assets: a 4 KiB firmware image as S-records, a 16x16 icon
// and a small JPEG picture of the unit. Deterministic, so the committed files can be remade.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr uint32_t FlashStart = 0x1800;
constexpr uint16_t Seed = 0x0081;
constexpr size_t ImageSize = 4096;

void WriteFile(const char* name, const void* data, size_t size)
{
    FILE* f = std::fopen(name, "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::perror(name);
        std::exit(1);
    }
}

std::string SRecord(int type, uint32_t address, const uint8_t* data, size_t n)
{
    const int addrLen = type == 0 || type == 1 || type == 9 ? 2 : type == 2 || type == 8 ? 3 : 4;
    std::vector<uint8_t> body{uint8_t(n + size_t(addrLen) + 1)};
    for (int i = addrLen - 1; i >= 0; --i)
        body.push_back(uint8_t(address >> (8 * i)));
    body.insert(body.end(), data, data + n);
    unsigned sum = 0;
    for (uint8_t b : body)
        sum += b;
    body.push_back(uint8_t(~sum));
    std::string s = "S" + std::to_string(type);
    char hex[3];
    for (uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        s += hex;
    }
    return s + "\r\n";
}

// A firmware-like image: code-ish bytes, an erased tail, and the 16-bit sum (seeded) in its
// last two bytes, big-endian, as the image checks expect.
void Firmware()
{
    std::vector<uint8_t> image(ImageSize, 0xFF);
    uint32_t x = 0x2545F491;
    for (size_t i = 0; i < 3000; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = uint8_t(x);
    }
    const char banner[] = "MORAVENT DEMO FIRMWARE 1.0";
    std::copy(banner, banner + sizeof banner - 1, image.begin() + 0x100);
    uint16_t sum = Seed;
    for (size_t i = 0; i + 2 < ImageSize; ++i)
        sum = uint16_t(sum + image[i]);
    image[ImageSize - 2] = uint8_t(sum >> 8);
    image[ImageSize - 1] = uint8_t(sum);

    const uint8_t header[] = "demo-firmware";
    std::string text = SRecord(0, 0, header, sizeof header - 1);
    for (size_t at = 0; at < ImageSize; at += 32) {
        bool erased = true;
        for (size_t i = at; i < at + 32; ++i)
            erased = erased && image[i] == 0xFF;
        if (!erased) // erased stretches are left out: the builder fills gaps with 0xFF
            text += SRecord(2, FlashStart + uint32_t(at), image.data() + at, 32);
    }
    text += SRecord(8, FlashStart, nullptr, 0);
    WriteFile("demo-firmware.mot", text.data(), text.size());
}

void Put16(std::vector<uint8_t>& v, unsigned x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, unsigned x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// 16x16, 32 bits per pixel: a rounded grey case with a green display.
void Icon()
{
    const int n = 16;
    std::vector<uint8_t> ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, 1);
    const unsigned dataSize = 40 + n * n * 4 + n * 4;
    ico.push_back(n);
    ico.push_back(n);
    ico.push_back(0);
    ico.push_back(0);
    Put16(ico, 1);
    Put16(ico, 32);
    Put32(ico, dataSize);
    Put32(ico, 22);
    Put32(ico, 40);
    Put32(ico, n);
    Put32(ico, 2 * n);
    Put16(ico, 1);
    Put16(ico, 32);
    for (int i = 0; i < 6; ++i)
        Put32(ico, 0);
    for (int y = n - 1; y >= 0; --y) // bottom-up rows
        for (int x = 0; x < n; ++x) {
            const bool corner = (x == 0 || x == n - 1) && (y == 0 || y == n - 1);
            const bool display = x >= 3 && x <= 12 && y >= 3 && y <= 7;
            const bool key = (x == 4 || x == 8 || x == 11) && y >= 10 && y <= 12;
            uint8_t b = 0x70, g = 0x70, r = 0x70, a = corner ? 0 : 0xFF;
            if (display) {
                b = 0x30;
                g = 0xD0;
                r = 0x40;
            }
            if (key) {
                b = 0x20;
                g = 0x20;
                r = 0x20;
            }
            ico.insert(ico.end(), {b, g, r, a});
        }
    ico.insert(ico.end(), size_t(n * 4), 0); // AND mask: alpha decides
    WriteFile("demo-unit.ico", ico.data(), ico.size());
}

// 160x120 picture of the unit: case, display, keys and the serial socket.
void Picture()
{
    const int w = 160, h = 120;
    std::vector<uint8_t> rgb(size_t(w * h * 3));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgb[size_t((y * w + x) * 3)];
            int r = 235, g = 238, b = 242; // background
            if (x >= 20 && x < 140 && y >= 15 && y < 105) {
                r = 120;
                g = 124;
                b = 130;
            } // case
            if (x >= 35 && x < 125 && y >= 25 && y < 55) {
                r = 60;
                g = 200;
                b = 90;
            } // display
            if (y >= 70 && y < 88 && ((x >= 40 && x < 60) || (x >= 70 && x < 90) || (x >= 100 && x < 120))) {
                r = 40;
                g = 40;
                b = 45; // keys
            }
            if (x >= 140 && x < 152 && y >= 60 && y < 76) {
                r = 30;
                g = 60;
                b = 160;
            } // serial socket
            p[0] = uint8_t(r);
            p[1] = uint8_t(g);
            p[2] = uint8_t(b);
        }
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 80, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[size_t(c.next_scanline) * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    WriteFile("demo-unit.jpg", out, outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
}

} // namespace

int main()
{
    Firmware();
    Icon();
    Picture();
    return 0;
}
