#include "imaging/Bitmap.h"
#include "imaging/Exceptions.h"

// Placeholder until the Windows bitmap reader lands.
void TBitmap::LoadFromStream(TStream&) {
    throw EInvalidGraphic("Windows bitmaps are not supported yet.");
}

void TBitmap::SaveToStream(TStream&) {
    throw EInvalidGraphic("Saving Windows bitmaps is not supported yet.");
}
