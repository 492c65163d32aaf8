// A program that took a bus name that is not its own, as tests play it: it serves nothing under the name,
// never answers a call, answers every call with an empty reply, or answers every call with the name, as the
// app answers "reopen".
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QString>

namespace velaro::test {

class BusNameSquatter : public QDBusVirtualObject {
public:
    enum class Kind { serveNothing, neverAnswer, answerEmpty, answerWithTheName };

    // Takes `name` on `connection` and, unless it serves nothing, handles every call to `path`.
    BusNameSquatter(QDBusConnection connection, QString name, QString path, Kind kind)
        : connection_(std::move(connection)), name_(std::move(name)), path_(std::move(path)), kind_(kind) {
        owns_ = connection_.registerService(name_);
        if (kind_ != Kind::serveNothing) connection_.registerVirtualObject(path_, this);
    }
    ~BusNameSquatter() override {
        if (kind_ != Kind::serveNothing) connection_.unregisterObject(path_);
        connection_.unregisterService(name_);
    }
    BusNameSquatter(const BusNameSquatter&) = delete;
    BusNameSquatter& operator=(const BusNameSquatter&) = delete;

    bool ownsName() const { return owns_; }
    // The calls it has had.
    int calls() const { return calls_; }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        ++calls_;
        if (kind_ == Kind::answerEmpty) connection_.send(message.createReply());
        if (kind_ == Kind::answerWithTheName) connection_.send(message.createReply(name_));
        return true;  // otherwise the call is left without any reply, as a hung program leaves it
    }

private:
    QDBusConnection connection_;
    QString name_;
    QString path_;
    Kind kind_;
    bool owns_ = false;
    int calls_ = 0;
};

}  // namespace velaro::test
