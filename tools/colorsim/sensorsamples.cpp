#include "sensorsamples.h"

namespace colorsim {

const std::vector<NamedSample>& namedSamples() {
    // Ranges chosen inside what the recognition names so (and outside the boxes that overlap
    // it: white keeps its red above the first grid box's).
    static const std::vector<NamedSample> samples = {
        {"Color White", {3760, 3800}, {3605, 3640}, {3880, 3915}},
        {"Color Black", {995, 1005}, {495, 505}, {495, 505}},
        {"Color Red", {2980, 3020}, {1980, 2020}, {980, 1020}},
        {"Color Green", {480, 520}, {2980, 3020}, {480, 520}},
        {"Color Blue", {480, 520}, {480, 520}, {2980, 3020}},
        {"Grid3", {3680, 3710}, {3500, 3536}, {3630, 3670}},
        {"Grid5", {3662, 3690}, {3432, 3462}, {3346, 3378}},
        {"Grid8", {3528, 3570}, {3210, 3243}, {2990, 3000}},
        {"Grid10", {3306, 3336}, {2942, 2966}, {2765, 2800}},
        {"Grid12", {2868, 2877}, {2435, 2449}, {2417, 2429}},
        {"Grid15", {2215, 2228}, {1903, 1919}, {1820, 1913}},
    };
    return samples;
}

QByteArray readingLine(const Reading& reading) {
    char line[48];
    const int length = std::snprintf(line, sizeof line, "R=%04d G=%04d B=%04d\r\n", reading.red,
                                     reading.green, reading.blue);
    return QByteArray(line, length);
}

QByteArray echoLine(const QByteArray& received) {
    return "echo " + received.toHex(' ') + "\r\n";
}

std::pair<const NamedSample*, Reading> SampleCycle::next() {
    const std::vector<NamedSample>& samples = namedSamples();
    const NamedSample& sample = samples[m_index];
    m_index = (m_index + 1) % samples.size();
    const auto draw = [this](const ReadingRange& range) {
        return m_random.bounded(range.from, range.to + 1);
    };
    return {&sample, Reading{draw(sample.red), draw(sample.green), draw(sample.blue)}};
}

QByteArray SampleCycle::garbage(bool withMarkers) {
    QByteArray bytes;
    const int size = 3 + m_random.bounded(14);
    while (bytes.size() < size) {
        const char byte = static_cast<char>(m_random.bounded(256));
        if (withMarkers || (byte != 'R' && byte != 'G' && byte != 'B')) {
            bytes.append(byte);
        }
    }
    return bytes;
}

} // namespace colorsim
