#pragma once
// Graphics loaded from streams: bitmap, icon and JPEG image, and a picture that keeps a
// copy of any of them. Each decodes only the file at the stream's position (a stored
// region is zero-padded after it) and raises EInvalidGraphic naming the format when the
// data is not a valid file of that kind.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QImage>

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

    int Width() const { return FImage.width(); }
    int Height() const { return FImage.height(); }
    bool Empty() const { return FImage.isNull(); }
    QImage ToImage() const { return FImage; }

protected:
    [[noreturn]] void Fail(const std::string& reason);
    QImage FImage;
};

// Windows bitmap (BMP file).
class TBitmap : public TGraphic {
public:
    void LoadFromStream(TStream& stream) override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TBitmap>(*this); }
    const char* FormatName() const override { return "Bitmap"; }
};

// Windows icon (ICO file); ToImage gives the largest of its images.
class TIcon : public TGraphic {
public:
    void LoadFromStream(TStream& stream) override;
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TIcon>(*this); }
    const char* FormatName() const override { return "Icon"; }
    // Every image in the file, in file order (for a window icon with several sizes).
    const std::vector<QImage>& Images() const { return FImages; }

private:
    std::vector<QImage> FImages;
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
    QImage ToImage() const { return FGraphic ? FGraphic->ToImage() : QImage(); }

private:
    std::unique_ptr<TGraphic> FGraphic;
};
