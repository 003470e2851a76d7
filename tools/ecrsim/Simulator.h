#pragma once
// Runs the register model in real time behind a link: bytes from the link go
// to the model stamped with the time since start, and a single-shot timer
// wakes the loop when the model next has something to send or to do.

#include "Link.h"
#include "RegisterModel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

namespace velmar::ecrsim {

class Simulator : public QObject {
    Q_OBJECT
public:
    // The link must outlive the simulator. `journal` may be empty.
    Simulator(sim::RegisterConfig config, Link* link, const QString& journal, bool quiet,
              QObject* parent = nullptr);

    // False with a reason when the journal cannot be opened.
    bool start(QString* error);
    sim::RegisterModel& model() { return model_; }
    // A TCP client asks to connect: false while the register refuses.
    bool acceptConnection() { return model_.acceptConnection(nowUs()); }

private:
    std::int64_t nowUs() const { return clock_.nsecsElapsed() / 1000; }
    void pump();
    void writeJournal();

    sim::RegisterModel model_;
    Link* link_;
    QFile journal_;
    bool quiet_;
    QElapsedTimer clock_;
    QTimer wake_;
};

} // namespace velmar::ecrsim
