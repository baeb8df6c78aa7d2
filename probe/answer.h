#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velmora::probe
{

// Whether bytes that came back after a sensor request are the robot's answer, read through the
// console's own decoder, so what is checked is what the live view would show.
struct AnswerCheck {
    bool robot = false;
    // Why not, naming the check that failed; empty when robot.
    QString failed;
    // What a real robot may send though it is odd (bits the protocol leaves unused set, a charge
    // above the capacity, an unusual temperature): worth saying, not a refusal.
    QStringList warnings;

    // The decoded values, when the answer counts.
    int chargeMah = 0;
    int capacityMah = 0;
    int voltageMv = 0;
    int currentMa = 0;
    int temperatureC = 0;
    QString chargingState;
    // Bumpers, cliffs and wheel drops that are on, in the decoder's words.
    QStringList sensorsOn;
};

// A battery in use usually shows no more than this range on its temperature.
inline constexpr int kMinTemperatureC = -20;
inline constexpr int kMaxTemperatureC = 70;

AnswerCheck checkAnswer(const QByteArray &bytes);

// Where an answer that counts sits inside more bytes than one answer, or -1.
qsizetype answerInside(const QByteArray &bytes);

// "8e 00 4f 4b" and ".. ..OK": a sample of what came back, at most limit bytes.
QString hexSample(const QByteArray &bytes, int limit = 32);
QString textSample(const QByteArray &bytes, int limit = 32);

} // namespace velmora::probe
