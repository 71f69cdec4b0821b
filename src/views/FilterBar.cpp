#include "views/FilterBar.h"

#include "views/FilterPass.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

int toPixels(int twips, double tpp)
{
    return int(std::lround(twips / tpp));
}

QComboBox* makeCombo(QWidget* parent, const char* name, const QString& neutral)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setPlaceholderText(neutral);
    combo->setCurrentIndex(-1);
    return combo;
}

template <typename W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

int comboNeeds(const QComboBox* combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const QSize text(combo->fontMetrics().horizontalAdvance(combo->placeholderText()),
                     combo->fontMetrics().height());
    return combo->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, combo).width();
}

int textNeeds(const QWidget* w, const QString& text, int padding)
{
    return w->fontMetrics().horizontalAdvance(text) + padding;
}

} // namespace

FilterBar::FilterBar(QWidget* parent)
    : QGroupBox(QStringLiteral("Filter"), parent),
      m_cboLOC(makeCombo(this, "cboLOC", FilterCriteria::allLocations())),
      m_cboTYPE(makeCombo(this, "cboTYPE", FilterCriteria::allTypes())),
      m_cboCLASS(makeCombo(this, "cboCLASS", FilterCriteria::allClasses())),
      m_label1(named(new QLabel(QStringLiteral("Speed"), this), "Label1")),
      m_txtMinSpeed(named(new QLineEdit(QStringLiteral("0"), this), "txtMinSpeed")),
      m_label2(named(new QLabel(QStringLiteral("to"), this), "Label2")),
      m_txtMaxSpeed(named(new QLineEdit(QStringLiteral("0"), this), "txtMaxSpeed")),
      m_cmdFilter(named(new QPushButton(QStringLiteral("Filter"), this), "cmdFilter")),
      m_cmdReset(named(new QPushButton(QStringLiteral("Reset"), this), "cmdReset"))
{
    setObjectName(QStringLiteral("frame"));
}

void FilterBar::clearCriteria()
{
    m_cboLOC->setCurrentIndex(-1);
    m_cboCLASS->setCurrentIndex(-1);
    m_cboTYPE->setCurrentIndex(-1);
    m_txtMinSpeed->setText(QStringLiteral("0"));
    m_txtMaxSpeed->setText(QStringLiteral("0"));
}

void FilterBar::placeContents(double tpp, int frameWidthTwips)
{
    struct Item
    {
        QWidget* widget;
        int width;
        int needs;
        int lift;
    };
    const int lift = toPixels(15, tpp);
    Item items[] = {
        {m_cboLOC, toPixels(2400, tpp), comboNeeds(m_cboLOC), 0},
        {m_cboTYPE, toPixels(1700, tpp), comboNeeds(m_cboTYPE), 0},
        {m_cboCLASS, toPixels(2800, tpp), comboNeeds(m_cboCLASS), 0},
        {m_label1, toPixels(520, tpp), textNeeds(m_label1, m_label1->text(), 2), 0},
        {m_txtMinSpeed, toPixels(600, tpp), 0, 0},
        {m_label2, toPixels(220, tpp), textNeeds(m_label2, m_label2->text(), 2), 0},
        {m_txtMaxSpeed, toPixels(600, tpp), 0, 0},
        {m_cmdFilter, toPixels(1000, tpp), textNeeds(m_cmdFilter, m_cmdFilter->text(), 16), lift},
        {m_cmdReset, toPixels(1000, tpp), textNeeds(m_cmdReset, m_cmdReset->text(), 16), lift},
    };
    const int gap = toPixels(80, tpp);
    const int margin = toPixels(120, tpp);
    int total = 0;
    for (Item& item : items) {
        item.width = std::max(item.width, item.needs);
        total += item.width + gap;
    }
    total += gap; // before the buttons
    const int excess = total - gap - (toPixels(frameWidthTwips, tpp) - 2 * margin);
    const std::array<Item*, 2> spare{&items[0], &items[2]};
    const int spareTotal =
        (spare[0]->width - spare[0]->needs) + (spare[1]->width - spare[1]->needs);
    if (excess > 0 && spareTotal > 0) {
        const int give = std::min(excess, spareTotal);
        int given = 0;
        for (Item* item : spare) {
            const int share = (item->width - item->needs) * give / spareTotal;
            item->width -= share;
            given += share;
        }
        spare[1]->width -= std::min(give - given, spare[1]->width - spare[1]->needs);
    }
    const int top = toPixels(300, tpp);
    const int height = toPixels(330, tpp);
    int x = margin;
    for (const Item& item : items) {
        if (item.widget == m_cmdFilter)
            x += gap;
        item.widget->setGeometry(x, top - item.lift, item.width, height + 2 * item.lift);
        x += item.width + gap;
    }
}
