"""The module's surface without a service: argument checking, constants,
cdata, registration and the login texts that never reach the network."""
import json

import pytest

import zel_gateway_client as zel
from conftest import login_text


class TestArguments:
    def test_count_is_checked_first(self):
        with pytest.raises(TypeError, match=r"^python_login expected 2 arguments, got 1$"):
            zel.python_login("{}")
        with pytest.raises(TypeError, match=r"^python_subscribeByDataType expected 2 arguments, got 0$"):
            zel.python_subscribeByDataType()
        # Functions without arguments or with one are checked by Python itself.
        with pytest.raises(TypeError, match=r"python_logout\(\) takes no arguments \(1 given\)"):
            zel.python_logout(1)

    def test_int_range_and_kind(self):
        text = "in method 'python_login', argument 2 of type 'int'"
        with pytest.raises(OverflowError) as error:
            zel.python_login("{}", 2**31)
        assert str(error.value) == text
        with pytest.raises(OverflowError):
            zel.python_subscribeBySecurityId("{}", -2**31 - 1)
        with pytest.raises(TypeError) as error:
            zel.python_login("{}", "0")
        assert str(error.value) == text
        with pytest.raises(TypeError) as error:
            zel.python_request_fin_info_query_sync(b"{}", 1)
        assert str(error.value) == "in method 'python_request_fin_info_query_sync', argument 1 of type 'char const *'"

    def test_query_functions_do_nothing(self):
        assert zel.python_request_fin_info_query_sync("{}", 5) is None
        assert zel.python_request_fin_info_query_async("anything", -5) == 0
        assert zel.Log_Regist(None) is None


class TestConstants:
    def test_plain_constants(self):
        assert (zel.EFFECTIVE_LENGTH, zel.EFFECTIVE_DATA, zel.INIT_DATA) == (1, -999, 0)

    def test_cvar_is_read_only(self):
        assert zel.cvar.QUERY_TYPE_BASE_INFORMATION == 1011
        assert zel.cvar.QUERY_TYPE_LATEST_BASE_INFORMATION == 1012
        assert zel.cvar.QUERY_TYPE_ETF_BASE_INFORMATION == 1013
        assert zel.cvar.QUERY_TYPE_STATUS == 1021
        assert zel.cvar.QUERY_TYPE_SUBSCRIBE_ANSWER == 1031
        with pytest.raises(AttributeError, match=r"^Variable QUERY_TYPE_STATUS is read-only\.$"):
            zel.cvar.QUERY_TYPE_STATUS = 7
        assert zel.cvar.QUERY_TYPE_STATUS == 1021
        with pytest.raises(AttributeError, match=r"^Unknown C global variable 'OTHER'$"):
            zel.cvar.OTHER
        with pytest.raises(AttributeError, match=r"^Unknown C global variable 'OTHER'$"):
            zel.cvar.OTHER = 1
        assert repr(zel.cvar) == "<Swig global variables>"
        assert type(zel.cvar).__name__ == "swigvarlink"
        assert str(zel.cvar).startswith("(QUERY_TYPE_SUBSCRIBE_ANSWER, ")


class TestPointers:
    def test_cdata_of_null(self):
        assert zel.cdata(None, 5) is None
        assert zel.cdata(None) is None
        with pytest.raises(OverflowError):
            zel.cdata(None, -1)

    def test_int_vector_behaves_as_a_list(self):
        vector = zel.IntVector([3, 1, 2])
        vector.append(9)
        assert list(vector) == [3, 1, 2, 9] and vector[-1] == 9 and len(vector) == 4
        with pytest.raises(IndexError, match="index out of range"):
            vector[4]
        with pytest.raises(IndexError, match="pop from empty container"):
            zel.IntVector().pop()
        with pytest.raises(TypeError):
            zel.IntVector("x")


class TestRegistration:
    def test_none_and_instances(self):
        class Quiet(zel.Notify):
            pass

        assert zel.Notify_Regist(None) is None
        assert zel.Notify_Regist(Quiet()) is None  # the module keeps it alive
        assert zel.Notify_Regist(zel.Notify()) is None
        zel.Notify_Regist(None)

    def test_instance_without_base_constructor_is_refused(self):
        class Forgetful(zel.Notify):
            def __init__(self):
                pass

        with pytest.raises(TypeError) as error:
            zel.Notify_Regist(Forgetful())
        assert str(error.value) == "in method 'Notify_Regist', argument 1 of type 'Notify *'"

    def test_base_methods_of_a_subclass_do_nothing(self):
        class Partial(zel.Notify):
            pass

        notify = Partial()
        assert notify.OnMarketData(None, 0) is None
        assert notify.OnLoginDiscoverySuccess(None, (1, 2)) is None
        assert notify.OnNoDiscoveryServices() is None

    def test_fini_env_twice_then_init(self, capfd):
        zel.python_fini_env()
        zel.python_fini_env()
        zel.python_init_env()
        zel.python_fini_env()
        out = capfd.readouterr().out
        assert out.count("fini env ...\n") == 3 and out.count("init env ...\n") == 1


class TestLoginTexts:
    """Texts that end before any connection: 1 (incomplete) or -1 (no client)."""

    @pytest.mark.parametrize("text", [
        login_text(None),
        login_text(None, MainServerPort=9552.5),
        login_text(9552, UserName=7),
        json.dumps([{"UserName": "u", "Password": "p", "MainServerIP": "127.0.0.1", "MainServerPort": 1}]),
        "{\"UserName\": ",
        None,
    ])
    def test_incomplete(self, text):
        assert zel.python_login(text, 0) == 1

    @pytest.mark.parametrize("thread_count", [0, 99, 100])
    def test_thread_count_any_int_is_accepted(self, thread_count):
        assert zel.python_login(login_text(None, Thread_Count=thread_count), 0) == 1

    def test_only_true_switches_tls(self):
        # TLS on with no loadable CA file: no client can be made.
        assert zel.python_login(login_text(9552, Is_Ssl=True, CertFolder="/nonexistent/zel"), 0) == -1
        assert zel.python_login(login_text(None, Is_Ssl=1), 0) == 1
        assert zel.python_login(login_text(None, Is_Ssl=True, CertFolder="./cert"), 0) == -1
        assert zel.python_login(login_text(None, Is_Ssl=False), 0) == 1

    def test_subscribe_texts_that_send_nothing_are_refused(self):
        bad_parameters = -1027
        assert zel.python_subscribeByDataType("not json", 0) == bad_parameters
        assert zel.python_subscribeByDataType(None, 0) == bad_parameters
        assert zel.python_subscribeByDataType(str({"SubType": 1, "ZelDataTypes": [3]}), 0) == bad_parameters
        assert zel.python_subscribeBySecurityId("[1, 2]", 0) == bad_parameters
        assert zel.python_subscribeBySecurityId("{\"SubType\": 2}", 0) == bad_parameters
        zel.python_logout()
