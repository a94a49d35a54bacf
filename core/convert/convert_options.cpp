#include "convert/convert_options.h"

namespace tervalo {

TConvertOptions ConvertOptions;

void ResetConvertOptions() { ConvertOptions = TConvertOptions{}; }

}  // namespace tervalo
