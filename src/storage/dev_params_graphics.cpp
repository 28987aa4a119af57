// The record's icon and picture, for the builds that have the graphics.
#include "storage/dev_params.h"

#include "framework/exceptions.h"
#include "framework/graphics.h"
#include "storage/exist_ms.h"

void TExeProgrammingInfo::LoadGraphic(const uint8_t* data, int32_t size, TGraphic& graphic)
{
    TExistingMemoryStream stream(data, size);
    stream.SetPosition(0);
    graphic.LoadFromStream(stream);
}

void TExeProgrammingInfo::LoadIcon(TIcon& icon) const
{
    LoadGraphic(FData + layout::IconRegion, layout::IconRegionSize, icon);
}

void TExeProgrammingInfo::LoadPicture(TPicture& picture) const
{
    switch (GetPictureType()) {
    case layout::PictureBitmap: {
        TBitmap bitmap;
        LoadGraphic(FData + layout::PictureRegion, layout::PictureRegionSize, bitmap);
        picture.Assign(bitmap);
        break;
    }
    case layout::PictureJpeg: {
        TJPEGImage jpeg;
        LoadGraphic(FData + layout::PictureRegion, layout::PictureRegionSize, jpeg);
        picture.Assign(jpeg);
        break;
    }
    default: throw Exception("Image type not supported");
    }
}
