#include "applicationsetup.h"

#include <QApplication>
#include <QBrush>
#include <QCommandLineParser>
#include <QIcon>
#include <QStyle>
#include <QStyleFactory>
#include <QUrl>

#include <memory>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// The resources live in this static library; register them explicitly so that the linker
// keeps them.
static void initApplicationResources()
{
    Q_INIT_RESOURCE(resources);
}

void returnLargeBlocksToSystem()
{
#if defined(__GLIBC__)
    // glibc raises its mapping threshold each time a mapped block is freed, so after the first
    // large list every later one lands in the heap, which keeps the pages once they are freed:
    // a fixed threshold keeps large blocks mapped.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void setApplicationIdentity()
{
    initApplicationResources();
    QCoreApplication::setApplicationName(QStringLiteral("Vaxel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.4"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vaxel"));
    const QString siteHost = QUrl(QStringLiteral(VAXEL_UPDATE_BASE_URL)).host();
    QCoreApplication::setOrganizationDomain(siteHost.isEmpty() ? QStringLiteral("vaxel.invalid") : siteHost);
    // Lets a Linux desktop match the window with vaxel.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vaxel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app-icon.png")));
}

void configureCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Vaxel - IPFS pin management GUI"));
    parser.addHelpOption();
    parser.addVersionOption();
}

QPalette darkPalette()
{
    const QColor window(53, 53, 53);
    const QColor base(25, 25, 25);
    const QColor accent(42, 130, 218);
    const QColor disabledText(127, 127, 127);
    // Grey that reads at 5.5:1 on the base colour of the text fields.
    const QColor placeholderText(144, 144, 144);

    QPalette palette;
    const auto set = [&palette](QPalette::ColorGroup group, QPalette::ColorRole role, const QColor& colour) {
        palette.setBrush(group, role, QBrush(colour, Qt::SolidPattern));
    };
    set(QPalette::All, QPalette::Window, window);
    set(QPalette::All, QPalette::WindowText, Qt::white);
    set(QPalette::All, QPalette::Base, base);
    set(QPalette::All, QPalette::AlternateBase, window);
    // Tool tips are dark text on white: white on white would be unreadable.
    set(QPalette::All, QPalette::ToolTipBase, Qt::white);
    set(QPalette::All, QPalette::ToolTipText, Qt::black);
    set(QPalette::All, QPalette::Text, Qt::white);
    set(QPalette::All, QPalette::Button, window);
    set(QPalette::All, QPalette::ButtonText, Qt::white);
    set(QPalette::All, QPalette::BrightText, Qt::red);
    set(QPalette::All, QPalette::Link, accent);
    set(QPalette::All, QPalette::Highlight, accent);
    set(QPalette::All, QPalette::HighlightedText, Qt::black);
    set(QPalette::All, QPalette::PlaceholderText, placeholderText);
    set(QPalette::Disabled, QPalette::Text, disabledText);
    set(QPalette::Disabled, QPalette::WindowText, disabledText);
    set(QPalette::Disabled, QPalette::ButtonText, disabledText);
    return palette;
}

bool applyDarkLook(const QString& styleName)
{
    // Only asks whether the style exists; QApplication::setStyle makes its own instance.
    const std::unique_ptr<QStyle> probe(QStyleFactory::create(styleName));
    if (!probe)
        return false;
    QApplication::setStyle(styleName);
    QApplication::setPalette(darkPalette());
    return true;
}
