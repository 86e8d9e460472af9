#pragma once

#include <QObject>

// Where a screen recording's frames will be delivered. Recording is not
// offered yet; the recorder owns one so the shape is in place.
class StreamOutput : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
};
