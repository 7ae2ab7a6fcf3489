#pragma once

#include <QByteArray>
#include <QIODevice>

// A sound's samples read in an endless loop: the output never runs dry between two
// repeats, so an alarm loops without a gap. An empty sound reads as end of data.
class LoopingSound : public QIODevice
{
    Q_OBJECT
public:
    explicit LoopingSound(QObject* parent = nullptr) : QIODevice(parent) {}

    void setSamples(const QByteArray& pcm) { samples = pcm, position = 0; }
    const QByteArray& data() const { return samples; }
    // Back to the first sample.
    void rewind() { position = 0; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray samples;
    qint64 position = 0;
};
