#include "windowicon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

namespace {

class SizedIconEngine final : public QIconEngine
{
public:
    explicit SizedIconEngine(QMap<int, QString> files) : m_files(std::move(files)) {}

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        if (m_files.isEmpty() || size.isEmpty())
            return QPixmap();
        const int edge = std::max(size.width(), size.height());
        auto it = m_files.lowerBound(edge);
        if (it == m_files.end())
            --it;
        QPixmap &cached = m_decoded[it.key()];
        if (cached.isNull())
            cached.load(it.value());
        // Scaled down, never up (as QIcon does with its own files).
        if (cached.isNull() || (cached.width() <= size.width() && cached.height() <= size.height()))
            return cached;
        return cached.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        if (m_files.isEmpty())
            return QSize();
        const int largest = m_files.lastKey();
        return size.boundedTo(QSize(largest, largest));
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int edge : m_files.keys())
            sizes.append(QSize(edge, edge));
        return sizes;
    }

    QIconEngine *clone() const override { return new SizedIconEngine(*this); }
    QString key() const override { return QStringLiteral("SizedIconEngine"); }

private:
    QMap<int, QString> m_files;
    QMap<int, QPixmap> m_decoded;
};

} // namespace

QIcon SizedIcon(const QMap<int, QString> &files)
{
    return QIcon(new SizedIconEngine(files));
}
