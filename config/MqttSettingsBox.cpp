#include "config/MqttSettingsBox.h"

#include "config/Named.h"
#include "config/Settings.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace {
constexpr int kTlsPort = 8883;

bool hasControl(const QString& text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control)
            return true;
    return false;
}

// Letters and digits, '-', '.', '_' and ':' (an IPv6 address): anything else is no host.
bool isHostName(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 127 || !(c.isLetterOrNumber() || QStringLiteral("-._:").contains(c)))
            return false;
    return true;
}

QString topicProblem(const QString& topic)
{
    if (topic.contains(QLatin1Char('+')) || topic.contains(QLatin1Char('#')))
        return MqttSettingsBox::tr("Базовый топик не может содержать «+» и «#».");
    if (topic.startsWith(QLatin1Char('/')))
        return MqttSettingsBox::tr("Базовый топик не может начинаться с «/».");
    if (hasControl(topic))
        return MqttSettingsBox::tr("Базовый топик содержит управляющие символы.");
    if (topic.split(QLatin1Char('/')).contains(QString()))
        return MqttSettingsBox::tr("В базовом топике пустой уровень («//» или «/» в конце).");
    return QString();
}
} // namespace

MqttSettingsBox::MqttSettingsBox(QWidget* parent)
    : QGroupBox(tr("Передача данных (MQTT)"), parent),
      roomName(named(new QLineEdit(this), "lineEdit_roomName")),
      enabled(named(new QCheckBox(tr("Передавать данные"), this), "checkBox_mqttEnabled")),
      host(named(new QLineEdit(this), "lineEdit_mqttHost")),
      port(named(new QSpinBox(this), "spinBox_mqttPort")),
      tlsCa(named(new QLineEdit(this), "lineEdit_mqttTlsCa")),
      tlsCaButton(named(new QPushButton(QStringLiteral("…"), this), "pushButton_mqttTlsCa")),
      user(named(new QLineEdit(this), "lineEdit_mqttUser")),
      password(named(new QLineEdit(this), "lineEdit_mqttPassword")),
      topic(named(new QLineEdit(this), "lineEdit_mqttTopic")),
      haDiscovery(named(new QCheckBox(tr("Обнаружение Home Assistant"), this), "checkBox_mqttHaDiscovery"))
{
    setObjectName(QStringLiteral("groupBox_mqtt"));
    port->setRange(1, 65535);
    password->setEchoMode(QLineEdit::Password);
    roomName->setPlaceholderText(Settings::defaultRoomName());
    tlsCaButton->setFixedWidth(28);

    // Two columns of labelled fields: the section stays low under the limits table.
    auto* grid = new QGridLayout(this);
    auto addField = [this, grid](int row, int column, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        grid->addWidget(label, row, column);
        grid->addWidget(field, row, column + 1);
    };
    auto* hostRow = new QHBoxLayout();
    hostRow->addWidget(host, 1);
    hostRow->addWidget(new QLabel(tr("Порт"), this));
    hostRow->addWidget(port);
    auto* caRow = new QHBoxLayout();
    caRow->addWidget(tlsCa, 1);
    caRow->addWidget(tlsCaButton);
    auto* hostCell = new QWidget(this);
    hostCell->setLayout(hostRow);
    hostRow->setContentsMargins(0, 0, 0, 0);
    auto* caCell = new QWidget(this);
    caCell->setLayout(caRow);
    caRow->setContentsMargins(0, 0, 0, 0);
    addField(0, 0, tr("Название помещения"), roomName);
    grid->addWidget(enabled, 0, 2, 1, 2);
    addField(1, 0, tr("Брокер"), hostCell);
    addField(1, 2, tr("Файл сертификата ЦС (TLS)"), caCell);
    addField(2, 0, tr("Пользователь"), user);
    addField(2, 2, tr("Пароль"), password);
    addField(3, 0, tr("Базовый топик"), topic);
    grid->addWidget(haDiscovery, 3, 2, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    connect(enabled, &QCheckBox::toggled, this, &MqttSettingsBox::updateEnabled);
    connect(tlsCaButton, &QPushButton::clicked, this, &MqttSettingsBox::chooseCaFile);
    connect(tlsCa, &QLineEdit::textEdited, this, &MqttSettingsBox::caFileSet);
    connect(roomName, &QLineEdit::textChanged, this, &MqttSettingsBox::updateTopicPlaceholder);
    updateTopicPlaceholder();
    updateEnabled();
}

void MqttSettingsBox::fill(const Settings& settings)
{
    const Settings::Mqtt& mqtt = settings.mqtt();
    // The host name is what an empty field means; it shows as the placeholder.
    roomName->setText(settings.roomName() == Settings::defaultRoomName() ? QString() : settings.roomName());
    enabled->setChecked(mqtt.enabled);
    host->setText(mqtt.host);
    port->setValue(mqtt.port);
    tlsCa->setText(mqtt.tlsCa);
    user->setText(mqtt.user);
    password->setText(mqtt.password);
    topic->setText(mqtt.topic);
    haDiscovery->setChecked(mqtt.haDiscovery);
}

QString MqttSettingsBox::problem() const
{
    const QString room = roomName->text().trimmed();
    if (room.contains(QLatin1Char('/')) || room.contains(QLatin1Char('+')) ||
        room.contains(QLatin1Char('#')) || hasControl(room))
        return tr("Название помещения входит в топики MQTT и не может содержать «/», «+», «#» и "
                  "управляющие символы.");
    // Switched off, the other fields are kept as they are and judged when publishing is on.
    if (!enabled->isChecked())
        return QString();
    if (host->text().isEmpty())
        return tr("Для передачи данных укажите брокер MQTT.");
    if (!isHostName(host->text()))
        return tr("Брокер MQTT: имя узла не может содержать пробелы и такие символы.");
    const QFileInfo ca(tlsCa->text());
    if (!tlsCa->text().isEmpty() && !(ca.isFile() && ca.isReadable()))
        return tr("Файл сертификата ЦС не найден или не читается: %1").arg(tlsCa->text());
    if (!password->text().isEmpty() && user->text().isEmpty())
        return tr("Пароль MQTT задан без имени пользователя.");
    return topicProblem(topic->text().trimmed());
}

bool MqttSettingsBox::read(Settings* into, QString* whyNot) const
{
    const QString why = problem();
    if (!why.isEmpty()) {
        *whyNot = why;
        return false;
    }
    const QString room = roomName->text().trimmed();
    into->setRoomName(room.isEmpty() ? Settings::defaultRoomName() : room);
    Settings::Mqtt mqtt;
    mqtt.enabled = enabled->isChecked();
    mqtt.host = host->text();
    mqtt.port = port->value();
    mqtt.tlsCa = tlsCa->text();
    mqtt.user = user->text();
    mqtt.password = password->text();
    mqtt.topic = topic->text().trimmed();
    mqtt.haDiscovery = haDiscovery->isChecked();
    into->setMqtt(mqtt);
    return true;
}

void MqttSettingsBox::chooseCaFile()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Файл сертификата ЦС"), tlsCa->text(),
                                                      tr("Сертификаты (*.pem *.crt);;Все файлы (*)"));
    if (file.isEmpty())
        return;
    tlsCa->setText(file);
    caFileSet();
}

// TLS on the plain port is almost never meant: the usual TLS port is proposed instead.
void MqttSettingsBox::caFileSet()
{
    if (!tlsCa->text().isEmpty() && port->value() == Settings::defaultMqttPort)
        port->setValue(kTlsPort);
}

// The default base topic: the room's name as one level, blanks as '_'.
void MqttSettingsBox::updateTopicPlaceholder()
{
    QString room = roomName->text().trimmed();
    if (room.isEmpty())
        room = roomName->placeholderText();
    for (QChar& c : room)
        if (c.isSpace())
            c = QLatin1Char('_');
    topic->setPlaceholderText(QStringLiteral("orvik/") + room);
}

void MqttSettingsBox::updateEnabled()
{
    for (QWidget* field :
         std::initializer_list<QWidget*>{host, port, tlsCa, tlsCaButton, user, password, topic, haDiscovery})
        field->setEnabled(enabled->isChecked());
}
