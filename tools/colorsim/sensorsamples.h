#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <vector>

/// What the simulated color sensor says: reading lines around samples whose color the
/// program names, with a little noise.
namespace colorsim {

struct ReadingRange {
    int from = 0;
    int to = 0;
};

/// A sample the sensor cycles through: the caption the recognition gives it, and where its
/// readings may fall so that they keep that caption.
struct NamedSample {
    QString caption;
    ReadingRange red, green, blue;
};

/// White, black, red, green, blue and several grid boxes, in the order they are sent.
const std::vector<NamedSample>& namedSamples();

struct Reading {
    int red = 0;
    int green = 0;
    int blue = 0;
};

/// "R=3712 G=3590 B=3880" CR LF.
QByteArray readingLine(const Reading& reading);

/// The answer to received bytes: "echo" and the bytes as lower-case hex, CR LF. Nothing in it
/// is an upper-case R, G or B, so an answer never reads as a reading.
QByteArray echoLine(const QByteArray& received);

/// Cycles through the named samples, drawing each reading from its range.
class SampleCycle {
public:
    explicit SampleCycle(quint32 seed) : m_random(seed) {}

    /// The next sample and the readings drawn for it.
    std::pair<const NamedSample*, Reading> next();

    /// A few random bytes, as a noisy line or a device's hiccup puts between readings. Without
    /// markers unless asked for: garbage between two lines then leaves every reading whole.
    QByteArray garbage(bool withMarkers = false);

    QRandomGenerator& random() { return m_random; }

private:
    QRandomGenerator m_random;
    std::size_t m_index = 0;
};

} // namespace colorsim
