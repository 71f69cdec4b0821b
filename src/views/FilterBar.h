#pragma once

#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Filter" frame under the grids: location, type and class choices, the speed range, and
// the Filter and Reset buttons, in one row.
class FilterBar final : public QGroupBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FilterBar)

public:
    explicit FilterBar(QWidget* parent = nullptr);

    QComboBox* cboLOC() const { return m_cboLOC; }
    QComboBox* cboTYPE() const { return m_cboTYPE; }
    QComboBox* cboCLASS() const { return m_cboCLASS; }
    QLineEdit* txtMinSpeed() const { return m_txtMinSpeed; }
    QLineEdit* txtMaxSpeed() const { return m_txtMaxSpeed; }
    QPushButton* cmdFilter() const { return m_cmdFilter; }
    QPushButton* cmdReset() const { return m_cmdReset; }

    // No choice in any box, both speeds 0.
    void clearCriteria();
    // Lays the row out across the frame's width (in twips): each control has its width in twips
    // but at least what its text needs, so a larger font never cuts "All Proxy Types". When that
    // makes the row wider than the frame, the location and class boxes give back what they have
    // beyond it.
    void placeContents(double twipsPerPixel, int frameWidthTwips);

private:
    QComboBox* m_cboLOC;
    QComboBox* m_cboTYPE;
    QComboBox* m_cboCLASS;
    QLabel* m_label1;
    QLineEdit* m_txtMinSpeed;
    QLabel* m_label2;
    QLineEdit* m_txtMaxSpeed;
    QPushButton* m_cmdFilter;
    QPushButton* m_cmdReset;
};
