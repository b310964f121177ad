import quelmar


def test_module_imports():
    assert quelmar.__name__ == "quelmar"
