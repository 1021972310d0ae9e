// Turns the user's guide from Markdown into an A4 PDF:
//   QT_QPA_PLATFORM=offscreen kelvra-guide GUIDE.md IMAGE_FOLDER OUTPUT.pdf VERSION
// "@VERSION@" in the text becomes VERSION. Images are looked up in IMAGE_FOLDER by the name the
// Markdown gives them and scaled to the text width at most; a missing image fails the build
// rather than leaving a hole in the guide. Every top-level chapter after the first starts on
// a new page; code blocks are set in a monospaced face.
#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <cstdio>
#include <vector>

namespace {

// The text column of an A4 page at the layout's 96 pixels per inch: 210 mm less the margins.
constexpr double kTextWidthPx = (210.0 - 2 * 22.0) / 25.4 * 96.0;
// Screen pictures are shown at this many layout pixels per picture pixel: smaller than 1:1 so
// a whole window fits, large enough that its labels stay legible.
constexpr double kPictureScale = 0.8;

struct ImageFragment {
    int position;
    int length;
    QTextImageFormat format;
};

bool ResolveImages(QTextDocument& doc, const QString& imageFolder) {
    std::vector<ImageFragment> found;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && fragment.charFormat().isImageFormat())
                found.push_back(
                    {fragment.position(), fragment.length(), fragment.charFormat().toImageFormat()});
        }
    }
    bool ok = true;
    for (ImageFragment& image : found) {
        const QString name = image.format.name();
        const QString path = QFileInfo(name).isAbsolute() ? name : imageFolder + QLatin1Char('/') + name;
        const QImage picture(path);
        if (picture.isNull()) {
            std::fprintf(stderr, "kelvra-guide: cannot read the image %s\n", qPrintable(path));
            ok = false;
            continue;
        }
        doc.addResource(QTextDocument::ImageResource, QUrl(name), picture);
        const double width = std::min(picture.width() * kPictureScale, kTextWidthPx);
        image.format.setWidth(width);
        image.format.setHeight(width * picture.height() / picture.width());
        QTextCursor cursor(&doc);
        cursor.setPosition(image.position);
        cursor.setPosition(image.position + image.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(image.format);
    }
    return ok;
}

void ShapeBlocks(QTextDocument& doc) {
    const QFont mono(QStringLiteral("DejaVu Sans Mono"), 8);
    bool firstChapter = true;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        QTextCursor cursor(block);
        const int level = format.headingLevel();
        if (level == 1 && !firstChapter)
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        if (level == 1)
            firstChapter = false;
        if (level >= 2)
            format.setTopMargin(level == 2 ? 16 : 10);
        // Fenced and indented code: monospaced on a light ground; a line too long for the page
        // wraps rather than running off it.
        if (format.hasProperty(QTextFormat::BlockCodeFence) ||
            format.hasProperty(QTextFormat::BlockCodeLanguage)) {
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            QTextCharFormat text;
            text.setFont(mono);
            cursor.mergeCharFormat(text);
            format.setNonBreakableLines(false);
            format.setBackground(QColor(240, 241, 244));
            format.setLeftMargin(10);
        }
        cursor.setBlockFormat(format);
    }
}

// Tables: thin rules, some air in the cells, the header row shaded.
void ShapeTables(QTextDocument& doc) {
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
        auto* table = qobject_cast<QTextTable*>(frame);
        if (table == nullptr)
            continue;
        QTextTableFormat format = table->format();
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorder(0.5);
        format.setBorderBrush(QColor(150, 150, 150));
        format.setCellPadding(3);
        format.setCellSpacing(0);
        format.setTopMargin(4);
        format.setBottomMargin(6);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        table->setFormat(format);
        for (int column = 0; column < table->columns(); ++column) {
            QTextTableCell cell = table->cellAt(0, column);
            QTextCharFormat shade = cell.format();
            shade.setBackground(QColor(232, 234, 238));
            cell.setFormat(shade);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s GUIDE.md IMAGE_FOLDER OUTPUT.pdf VERSION\n", argv[0]);
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kelvra-guide: cannot read %s\n", argv[1]);
        return 1;
    }
    QString text = QString::fromUtf8(source.readAll());
    text.replace(QLatin1String("@VERSION@"), QString::fromLocal8Bit(argv[4]));

    QTextDocument doc;
    doc.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    doc.setMarkdown(text, QTextDocument::MarkdownDialectGitHub);
    ShapeBlocks(doc);
    ShapeTables(doc);
    if (!ResolveImages(doc, QString::fromLocal8Bit(argv[2])))
        return 1;

    const QString output = QString::fromLocal8Bit(argv[3]);
    {
        QPdfWriter pdf(output);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        // The document adds two centimetres of its own inside these.
        pdf.setPageMargins(QMarginsF(2, 2, 2, 2), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Kelvra User's Guide"));
        pdf.setCreator(QStringLiteral("Kelvra"));
        doc.print(&pdf);
    }
    if (QFileInfo(output).size() == 0) {
        std::fprintf(stderr, "kelvra-guide: nothing written to %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}
