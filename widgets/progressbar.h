#pragma once

#include <QProgressBar>

// The progress bar under the status label; follows the byte counts of the
// download that is running.
class progressBar : public QProgressBar
{
    Q_OBJECT

public slots:
    void setProgress(qint64 bytesR, qint64 bytesT);
};
