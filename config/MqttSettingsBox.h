#pragma once

#include <QGroupBox>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class Settings;

// The settings page's section for publishing to an MQTT broker and the room's name, which
// the topics are made from. Only read() hands its values to the record, and only when all hold.
class MqttSettingsBox : public QGroupBox
{
    Q_OBJECT
public:
    explicit MqttSettingsBox(QWidget* parent = nullptr);

    void fill(const Settings& settings);
    // The fields into the room name and the MQTT record of *into; false, *into untouched and
    // *whyNot the operator's reason, when a field cannot stand.
    bool read(Settings* into, QString* whyNot) const;

private:
    QString problem() const;
    void chooseCaFile();
    void caFileSet();
    void updateTopicPlaceholder();
    void updateEnabled();

    QLineEdit* roomName;
    QCheckBox* enabled;
    QLineEdit* host;
    QSpinBox* port;
    QLineEdit* tlsCa;
    QPushButton* tlsCaButton;
    QLineEdit* user;
    QLineEdit* password;
    QLineEdit* topic;
    QCheckBox* haDiscovery;
};
