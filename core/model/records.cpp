#include "model/records.h"

namespace tervalo {

void TEntJwwBlockDef::FreeMembers() {
    N = 0;
    mNo.clear();
    mLineN = mEnkoN = mTenN = mMojiN = mSunpoN = mSolidN = mBlockN = 0;
    mLine.clear();
    mEnko.clear();
    mTen.clear();
    mMoji.clear();
    mSunpo.clear();
    mSolid.clear();
    mBlock.clear();
}

void AttrCopy(const TEntJwwAttr& source, TEntJwwAttr& destination) {
    destination.lGroup = source.lGroup;
    destination.nPenStyle = source.nPenStyle;
    destination.nPenColor = source.nPenColor;
    destination.nPenWidth = source.nPenWidth;
    destination.nLayer = source.nLayer;
    destination.nGLayer = source.nGLayer;
    destination.sFlg = source.sFlg;
}

}  // namespace tervalo
