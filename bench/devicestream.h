#pragma once

#include <QByteArray>
#include <QRandomGenerator>

namespace bench {

/// Realistic device output: reading lines "R=3712 G=3590 B=3880" CR LF around a few colors
/// with some noise, and now and then a burst of garbage bytes.
inline QByteArray deviceStream(qsizetype size, quint32 seed = 1) {
    QRandomGenerator random(seed);
    static const int colors[][3] = {{3750, 3620, 3890}, {1000, 500, 500},   {3000, 2000, 1000},
                                    {3560, 3210, 2990}, {2220, 1910, 1850}, {400, 3000, 500}};
    QByteArray stream;
    stream.reserve(size + 64);
    while (stream.size() < size) {
        if (random.bounded(50) == 0) {
            const int garbage = 5 + random.bounded(16);
            for (int i = 0; i < garbage; ++i) {
                stream.append(static_cast<char>(random.bounded(256)));
            }
            continue;
        }
        const int* color = colors[random.bounded(6)];
        char line[40];
        const int length = std::snprintf(
            line, sizeof line, "R=%04d G=%04d B=%04d\r\n", color[0] + random.bounded(-8, 9),
            color[1] + random.bounded(-8, 9), color[2] + random.bounded(-8, 9));
        stream.append(line, length);
    }
    stream.truncate(size);
    return stream;
}

} // namespace bench
