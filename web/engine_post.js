return createBoolconvEngine;
}
