#include "model/default_text_types.h"

namespace tervalo {

const std::array<DefaultMojiType, 10> DefaultMojiTypes = {{
    {1, 2.0, 2.0, 0.0},
    {1, 2.5, 2.5, 0.5},
    {2, 3.0, 3.0, 0.5},
    {2, 4.0, 4.0, 0.5},
    {3, 5.0, 5.0, 1.0},
    {3, 6.0, 6.0, 1.0},
    {4, 7.0, 7.0, 1.0},
    {4, 8.0, 8.0, 1.0},
    {5, 9.0, 9.0, 1.0},
    {5, 10.0, 10.0, 1.0},
}};

}  // namespace tervalo
