#pragma once
// Graphics loaded from streams: bitmap, icon and JPEG image, and a picture that keeps a
// copy of any of them. Each decodes only the file at the stream's position (a stored
// region is zero-padded after it) and raises EInvalidGraphic naming the format when the
// data is not a valid file of that kind.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/rgba_image.h"

class TStream;

// The most pixels a bitmap or JPEG picture may have (4096 x 4096). The connect wizard shows
// it 200 pixels wide, and decoding a larger one would hold hundreds of megabytes.
constexpr int64_t MaxPicturePixels = 4096LL * 4096;
// Why a picture of width x height pixels is refused, when it has more than that.
std::string PictureTooLarge(int64_t width, int64_t height);

class TGraphic {
public:
    virtual ~TGraphic() = default;
    // Replaces the current image with the one at the stream's position; on failure the
    // graphic is left empty and EInvalidGraphic is raised.
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual std::unique_ptr<TGraphic> Clone() const = 0;
    // Name used in error messages: "Bitmap", "Icon", "JPEG".
    virtual const char* FormatName() const = 0;

    // The decoded image, which a toolkit's backend turns into its own kind.
    const TRgbaImage& Image() const { return FImage; }
    int Width() const { return Empty() ? 0 : FImage.Width; }
    int Height() const { return Empty() ? 0 : FImage.Height; }
    bool Empty() const { return FImage.Null(); }

protected:
    [[noreturn]] void Fail(const std::string& reason);
    TRgbaImage FImage;
};

// Windows bitmap (BMP file).
class TBitmap : public TGraphic {
public:
    void LoadFromStream(TStream& stream) override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TBitmap>(*this); }
    const char* FormatName() const override { return "Bitmap"; }
};

// Windows icon (ICO file); Image is the largest of its images. Images stored as PNG are
// passed over: an icon must hold at least one bitmap image.
class TIcon : public TGraphic {
public:
    void LoadFromStream(TStream& stream) override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TIcon>(*this); }
    const char* FormatName() const override { return "Icon"; }
    // Every image in the file, in file order (for a window icon with several sizes).
    const std::vector<TRgbaImage>& Images() const { return FImages; }

private:
    std::vector<TRgbaImage> FImages;
};

// JPEG image, decoded with libjpeg.
class TJPEGImage : public TGraphic {
public:
    void LoadFromStream(TStream& stream) override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TJPEGImage>(*this); }
    const char* FormatName() const override { return "JPEG"; }
};

// Holds its own copy of an assigned graphic.
class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture& other) { *this = other; }
    TPicture& operator=(const TPicture& other);

    void Assign(const TGraphic& graphic) { FGraphic = graphic.Clone(); }
    void Clear() { FGraphic.reset(); }
    const TGraphic* Graphic() const { return FGraphic.get(); }
    bool Empty() const { return !FGraphic || FGraphic->Empty(); }
    int Width() const { return FGraphic ? FGraphic->Width() : 0; }
    int Height() const { return FGraphic ? FGraphic->Height() : 0; }
    TRgbaImage Image() const { return FGraphic ? FGraphic->Image() : TRgbaImage(); }

private:
    std::unique_ptr<TGraphic> FGraphic;
};
