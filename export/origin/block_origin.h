#pragma once

namespace brindle {

// A block's X and Y origin as read from its report.txt. Kept in double precision: survey
// coordinates run to seven or eight digits, where a float is off by decimetres to metres.
struct BlockOrigin {
    double x = 0.0;
    double y = 0.0;
};

} // namespace brindle
