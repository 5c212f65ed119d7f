// The fault matrix with the "Status Monitor" tab current.
#include "faultmatrix.h"
#include "testenv.h"

class tst_faultMatrixStatus : public faultMatrix
{
    Q_OBJECT
public:
    tst_faultMatrixStatus()
        : faultMatrix(page::statusMonitor)
    {
    }
};

QR_TEST_MAIN(tst_faultMatrixStatus)
#include "tst_faultmatrix_status.moc"
