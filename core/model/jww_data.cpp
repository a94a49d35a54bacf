#include "model/jww_data.h"

namespace tervalo {

TJwwData::TJwwData() { DataInit(); }

TJwwData::~TJwwData() { DataFree(); }

void TJwwData::DataInit() {
    ResetBody();  // output options, lists and counts, images, font names, Unicode flag
    EntLay.clear();
    EntCol.clear();
    EntLtp1.clear();
    EntLtp2.clear();
    EntLtp3.clear();
    EntColS.clear();
    EntLtpS.clear();
    Enthd = TEntJwwHeader{};  // the declared defaults are the reset values
}

void TJwwData::DataFree() {
    FreeBlockDefMembers();
    DataInit();
}

}  // namespace tervalo
