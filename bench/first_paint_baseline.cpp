// The least a Qt Widgets program does before its window is on screen: the
// yardstick for the app's startup. Says "first paint" on stderr like the app
// does with QUORVEL_REPORT_FIRST_PAINT.

#include <QApplication>
#include <QLabel>
#include <QPaintEvent>
#include <cstdio>

namespace {

class Window : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (!m_painted) {
            m_painted = true;
            std::fputs("first paint\n", stderr);
            std::fflush(stderr);
        }
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window(QStringLiteral("Hello"));
    window.resize(480, 320);
    window.show();
    return app.exec();
}
