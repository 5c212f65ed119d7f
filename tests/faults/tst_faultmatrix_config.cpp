// The fault matrix with the "Config" tab current.
#include "faultmatrix.h"
#include "testenv.h"

class tst_faultMatrixConfig : public faultMatrix
{
    Q_OBJECT
public:
    tst_faultMatrixConfig()
        : faultMatrix(page::config)
    {
    }
};

QR_TEST_MAIN(tst_faultMatrixConfig)
#include "tst_faultmatrix_config.moc"
