def test_loads(core):
    assert core.supported_oses[0] == "ketch"
