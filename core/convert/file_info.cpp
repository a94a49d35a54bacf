#include "convert/file_info.h"

#include "dos/jwc_data.h"
#include "dos/jwk_data.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "text/func.h"

namespace tervalo {

ListedKind ListedKindOfExtension(const std::u16string& ext) {
    if (ext == u".jww" || ext == u".bak" || ext == u".jw$") return ListedKind::Jww;
    if (ext.size() == 4 && ext.compare(0, 3, u".bk") == 0 && ext[3] >= u'1' && ext[3] <= u'9') return ListedKind::Jww;
    if (ext == u".jws") return ListedKind::Jws;
    if (ext == u".jwc") return ListedKind::Jwc;
    if (ext == u".jwk") return ListedKind::Jwk;
    return ListedKind::Other;
}

struct FileInfoReader::Containers {
    TJwwData jww;
    TJwsData jws;
    TJwcData jwc;
    TJwkData jwk;
};

FileInfoReader::FileInfoReader() : c_(std::make_unique<Containers>()) {
    // Headers only: no bound image is ever copied out.
    c_->jww.BindImageExp = false;
    c_->jww.BindImageExr = false;
}

FileInfoReader::~FileInfoReader() = default;

namespace {

std::u16string DosMemo(const std::u16string& comment1, const std::u16string& comment2) {
    return RemoveBlanks(CleanNameText(comment1 + u" " + comment2));
}

}  // namespace

FileInfoCells FileInfoReader::Read(const std::filesystem::path& path) {
    FileInfoCells cells;
    try {
        switch (ListedKindOfExtension(ExtLower(path))) {
            case ListedKind::Jww:
                if (c_->jww.FileCheck(path) && c_->jww.FileHeaderIn(path)) {
                    cells.version = IntToText(c_->jww.Enthd.jwVer);
                    cells.memo = RemoveBlanks(CleanNameText(c_->jww.Enthd.strMemo));
                    cells.read = true;
                }
                break;
            case ListedKind::Jws:
                if (c_->jws.FileCheck(path) && c_->jws.FileHeaderIn(path)) {
                    cells.version = IntToText(c_->jws.Enthd.jwVer);
                    cells.read = true;
                }
                break;
            case ListedKind::Jwc:
                if (c_->jwc.FileCheck(path) && c_->jwc.FileHeaderIn(path)) {
                    cells.version = u"DOS";
                    cells.memo = DosMemo(c_->jwc.Enthd.comment1, c_->jwc.Enthd.comment2);
                    cells.read = true;
                }
                break;
            case ListedKind::Jwk:
                if (c_->jwk.FileCheck(path) && c_->jwk.FileHeaderIn(path)) {
                    cells.version = u"DOS";
                    cells.memo = DosMemo(c_->jwk.Enthd.comment1, c_->jwk.Enthd.comment2);
                    cells.read = true;
                }
                break;
            case ListedKind::Other: break;
        }
    } catch (...) {  // not enough memory for this header: its cells stay empty
        return {};
    }
    return cells;
}

}  // namespace tervalo
