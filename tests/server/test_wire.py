"""What no real client sends: broken frames, bad JSON, requests out of
order, documents never opened, a frame too large, and random damage. The
server answers what it can with the protocol's errors and goes on."""

import json
import random
import resource

import pytest

from lsp_wire import WireClient, frame

SOURCE = "def load(cfg):\n    return cfg['port']\n"


@pytest.fixture
def server(tmp_path):
    client = WireClient(cwd=tmp_path)
    yield client
    if client.process.poll() is None:
        client.process.kill()
        client.process.wait()


def still_serving(server, id=900):
    server.request(id, "textDocument/codeAction", {
        "textDocument": {"uri": "file:///nowhere.py"},
        "range": {"start": {"line": 0, "character": 0}, "end": {"line": 0, "character": 0}},
        "context": {"diagnostics": []}})
    answer, before = server.answer_to(id)
    assert answer["result"] == []
    return before


@pytest.mark.parametrize("raw, code", [
    (b"Content-Length: 9\r\n\r\n{\"id\": 1,", -32700),
    (b"Content-Length: 4\r\n\r\n[1,2]", -32700),
    (b"Content-Length: 2\r\n\r\n[]", -32600),
    (frame(b"\"just a string\""), -32600),
    (frame({"jsonrpc": "2.0", "id": 3}), -32600),
    (frame({"jsonrpc": "2.0", "id": [1], "method": "shutdown"}), -32600),
    (b"Content-Length: many\r\n\r\n", -32700),
    (b"Content-Type: application/json\r\n\r\n", -32700),
    # Nested deeper than the server takes apart without overflowing its stack.
    (frame(b"[" * 200000 + b"]" * 200000), -32700),
    (frame(b'{"a":' * 300 + b"1" + b"}" * 300), -32700),
])
def test_malformed_messages_get_error_answers(server, raw, code):
    server.initialize()
    server.send(raw)
    # A body that is too long for its frame eats into what comes next; the
    # server finds the next frame all the same.
    server.send(b"\r\n" * 3)
    before = still_serving(server)
    errors = [m for m in before if "error" in m]
    assert errors and errors[0]["error"]["code"] == code


def test_unknown_methods_and_order_of_the_lifecycle(server):
    server.request(1, "textDocument/codeAction", {})
    answer, _ = server.answer_to(1)
    assert answer["error"]["code"] == -32002
    server.initialize()
    server.request(2, "initialize", {"capabilities": {}})
    assert server.answer_to(2)[0]["error"]["code"] == -32600
    server.request(3, "workspace/symbol", {"query": "x"})
    answer, _ = server.answer_to(3)
    assert answer["error"] == {"code": -32601, "message": "unhandled method workspace/symbol"}
    server.notify("$/unknownNotification", {})
    server.request(4, "shutdown")
    assert server.answer_to(4)[0]["result"] is None
    server.request(5, "textDocument/diagnostic", {"textDocument": {"uri": "file:///a.py"}})
    assert server.answer_to(5)[0]["error"]["code"] == -32600
    server.notify("exit")
    assert server.process.wait(20) == 0


@pytest.mark.parametrize("shut_down, status", [(True, 0), (False, 1)])
def test_exit_status_says_whether_shutdown_came_first(server, shut_down, status):
    server.initialize()
    if shut_down:
        server.request(1, "shutdown")
        server.answer_to(1)
    server.notify("exit")
    assert server.process.wait(20) == status


def test_the_end_of_the_input_ends_the_server(server):
    server.initialize()
    server.send(b"Content-Length: 100\r\n\r\n{\"jsonrpc\"")
    status, stderr = server.finish()
    assert status == 1 and stderr == b""


def test_changes_to_unopened_documents_and_ranges_past_the_end(server, tmp_path):
    server.initialize(root=tmp_path)
    uri = (tmp_path / "app.py").as_uri()
    server.notify("textDocument/didChange", {
        "textDocument": {"uri": uri, "version": 2},
        "contentChanges": [{"text": "x = d['k']\n"}]})
    logged = server.next()
    assert logged["method"] == "window/logMessage" and "not open" in logged["params"]["message"]
    server.notify("textDocument/didOpen", {"textDocument": {
        "uri": uri, "languageId": "python", "version": 1, "text": SOURCE}})
    assert server.next()["params"]["version"] == 1
    server.notify("textDocument/didChange", {
        "textDocument": {"uri": uri, "version": 2},
        "contentChanges": [{"range": {"start": {"line": 40, "character": 3},
                                      "end": {"line": 99, "character": 0}},
                            "text": "\nv = d['far']\n"}]})
    messages = [server.next(), server.next()]
    assert "clamped" in messages[0]["params"]["message"]
    published = messages[1]["params"]
    assert published["version"] == 2
    assert [d["range"]["start"]["line"] for d in published["diagnostics"]] == [1, 3]
    server.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 3},
                                              "contentChanges": [{"range": {"start": {}}}]})
    assert "without" in server.next()["params"]["message"]
    still_serving(server)


def test_a_frame_over_64_mib_is_refused_unread(server):
    server.initialize()
    size = 64 * 1024 * 1024 + 1
    server.send(b"Content-Length: %d\r\n\r\n" % size)
    chunk = b" " * (1 << 20)
    for _ in range(64):
        server.send(chunk)
    server.send(b" ")
    refused = server.next(timeout=60)
    assert refused["error"]["code"] == -32700 and "64 MiB" in refused["error"]["message"]
    still_serving(server)


def test_random_damage_never_ends_the_server(server, tmp_path):
    """A fixed seed: the same frames every run."""
    server.initialize(root=tmp_path)
    uri = (tmp_path / "app.py").as_uri()
    valid = [
        frame({"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {
            "uri": uri, "languageId": "python", "version": 1, "text": SOURCE}}}),
        frame({"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {
            "textDocument": {"uri": uri, "version": 2}, "contentChanges": [
                {"range": {"start": {"line": 1, "character": 4},
                           "end": {"line": 1, "character": 9}}, "text": "é😀["}]}}),
        frame({"jsonrpc": "2.0", "id": 7, "method": "textDocument/codeAction", "params": {
            "textDocument": {"uri": uri}, "context": {"diagnostics": []},
            "range": {"start": {"line": 1, "character": 0},
                      "end": {"line": 1, "character": 30}}}}),
    ]
    generator = random.Random(20261209)
    for _ in range(400):
        damaged = bytearray(generator.choice(valid))
        for _ in range(generator.randint(1, 4)):
            place = generator.randrange(len(damaged))
            action = generator.random()
            if action < 0.4:
                damaged[place] = generator.randrange(256)
            elif action < 0.7:
                del damaged[place:place + generator.randint(1, 8)]
            else:
                damaged[place:place] = bytes(generator.randrange(256) for _ in range(3))
        server.send(bytes(damaged))
    # Whatever the damage left half-read, a few blank frames end it.
    server.send(b"\r\n\r\n" * 4 + b"Content-Length: 2\r\n\r\n{}")
    assert server.process.poll() is None
    still_serving(server, id=901)


def test_a_cancelled_pull_gets_one_answer(server, tmp_path):
    server.initialize(capabilities={"textDocument": {"diagnostic": {}}}, root=tmp_path)
    uri = (tmp_path / "big.py").as_uri()
    text = "".join(f"def f{i}(d):\n    return d['k{i}']\n\n\n" for i in range(20000))
    server.notify("textDocument/didOpen", {"textDocument": {
        "uri": uri, "languageId": "python", "version": 1, "text": text}})
    server.request(5, "textDocument/diagnostic", {"textDocument": {"uri": uri}})
    server.notify("$/cancelRequest", {"id": 5})
    answer, before = server.answer_to(5, timeout=60)
    # Cancelled while its analysis ran, or answered just before the cancel.
    assert answer.get("error", {}).get("code") == -32800 or len(answer["result"]["items"]) == 20000
    assert not [m for m in before if m.get("method") == "textDocument/publishDiagnostics"]
    # The next pull is answered with the findings.
    server.request(6, "textDocument/diagnostic", {"textDocument": {"uri": uri}})
    assert len(server.answer_to(6, timeout=60)[0]["result"]["items"]) == 20000
    still_serving(server)


@pytest.mark.parametrize("options, codes, shown", [
    ({"include-tests": True}, ["KH001"], None),
    ({"include-tests": True, "ignore": ["KH001"]}, [], None),
    ({"exact": True}, ["KH001"], None),
    ({"select": ["KH9"]}, [], "'select' holds 'KH9'"),
    ({"precise": "yes"}, [], "'precise' must be true or false"),
])
def test_initialization_options_override_the_configuration(server, tmp_path, options, codes,
                                                            shown):
    """On a test file, which the default mode does not report."""
    server.initialize(root=tmp_path, options=options)
    uri = (tmp_path / "test_app.py").as_uri()
    server.notify("textDocument/didOpen", {"textDocument": {
        "uri": uri, "languageId": "python", "version": 1, "text": SOURCE}})
    messages = []
    while True:
        message = server.next()
        messages.append(message)
        if message.get("method") == "textDocument/publishDiagnostics":
            break
    assert [d["code"] for d in messages[-1]["params"]["diagnostics"]] == codes
    notices = [m["params"]["message"] for m in messages if m.get("method") == "window/showMessage"]
    assert (shown is None and notices == []) or (len(notices) == 1 and shown in notices[0])


@pytest.mark.parametrize("bad", [
    b"Content-Length: +2\r\n\r\n{}",
    b"Content-Length: 2.0\r\n\r\n{}",
    b"Content-Length: 0x2\r\n\r\n{}",
    b"Content-Type: application/json\r\n\r\n" + json.dumps(
        {"jsonrpc": "2.0", "id": 5, "method": "shutdown", "params": {"t": "}] Content-Length: 3"}}
    ).encode(),
])
def test_a_frame_with_a_bad_length_costs_one_error_answer(server, bad):
    """The body of a frame whose length cannot be read is skipped, not read
    as the headers of the frames after it: every later request is answered."""
    server.initialize()
    server.send(bad)
    for id in (801, 802, 803):
        before = still_serving(server, id=id)
        errors = [m for m in before if "error" in m]
        assert len(errors) == (1 if id == 801 else 0), before


def limited_address_space(megabytes):
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))
    return apply


def test_a_document_too_large_for_the_memory_gets_one_message_and_the_server_goes_on(tmp_path):
    """Under a memory limit, a document whose parse would not fit is refused
    with one message and no diagnostics; the server serves the others."""
    client = WireClient(cwd=tmp_path, preexec_fn=limited_address_space(1024))
    try:
        client.initialize(root=tmp_path)
        big = (tmp_path / "big.py").as_uri()
        depth = 2_000_000
        client.notify("textDocument/didOpen", {"textDocument": {
            "uri": big, "languageId": "python", "version": 1,
            "text": "x = " + "[" * depth + "]" * depth + "\n"}})
        for version in (2, 3):
            client.notify("textDocument/didChange", {
                "textDocument": {"uri": big, "version": version},
                "contentChanges": [{"range": {"start": {"line": 0, "character": 0},
                                              "end": {"line": 0, "character": 1}},
                                    "text": "y"}]})
        small = (tmp_path / "small.py").as_uri()
        client.notify("textDocument/didOpen", {"textDocument": {
            "uri": small, "languageId": "python", "version": 1, "text": SOURCE}})
        messages = []
        while True:
            message = client.next(timeout=60)
            assert message is not None, f"the server ended: {messages}"
            messages.append(message)
            if (message.get("method") == "textDocument/publishDiagnostics"
                    and message["params"]["uri"] == small):
                break
        shown = [m["params"]["message"] for m in messages if m.get("method") == "window/showMessage"]
        assert len(shown) == 1 and "too large to analyse in the available memory" in shown[0]
        for m in messages:
            if m.get("method") == "textDocument/publishDiagnostics" and m["params"]["uri"] == big:
                assert m["params"]["diagnostics"] == []
        assert [d["code"] for d in messages[-1]["params"]["diagnostics"]] == ["KH001"]
        still_serving(client, id=950)
    finally:
        client.process.kill()
        client.process.wait()


def test_unused_suppressions_when_the_selection_asks_for_them(server, tmp_path):
    server.initialize(root=tmp_path, options={"select": ["KH001", "KH100"]})
    uri = (tmp_path / "app.py").as_uri()
    server.notify("textDocument/didOpen", {"textDocument": {
        "uri": uri, "languageId": "python", "version": 1,
        "text": "def f(d):\n    return d.get('k')  # noqa: KH001\n"}})
    while True:
        message = server.next()
        if message.get("method") == "textDocument/publishDiagnostics":
            break
    assert [(d["code"], d["range"]["start"]["line"]) for d in message["params"]["diagnostics"]] == [
        ("KH100", 1)]
