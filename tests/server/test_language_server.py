"""The server end to end, driven by a real client library (pytest-lsp), as an
editor drives it: lifecycle, documents, diagnostics, quick fixes,
encodings and configuration."""

import asyncio
from pathlib import Path

import pytest
import pytest_lsp
from lsprotocol import types
from pygls.protocol import default_converter
from pytest_lsp import ClientServerConfig, LanguageClient
from pytest_lsp.client import DEFAULT_CLIENT_FEATURES, register_lsp_features

from conftest import command_findings
from lsp_wire import NATIVE

pytestmark = pytest.mark.asyncio

SOURCE = ("def load(cfg):\n"
          "    return cfg['port']\n"
          "\n"
          "\n"
          "def total(prices, items):\n"
          "    try:\n"
          "        return sum(prices[i] for i in items)\n"
          "    except ValueError:\n"
          "        return 0\n"
          "\n"
          "\n"
          "def drop(cache, key):\n"
          "    del cache[key]\n")

PUSH = types.ClientCapabilities()
PULL = types.ClientCapabilities(
    text_document=types.TextDocumentClientCapabilities(
        diagnostic=types.DiagnosticClientCapabilities(dynamic_registration=False)))


def utf8_capabilities():
    return types.ClientCapabilities(
        general=types.GeneralClientCapabilities(
            position_encodings=[types.PositionEncodingKind.Utf8,
                                types.PositionEncodingKind.Utf16]))


@pytest.fixture
def workspace(tmp_path):
    return tmp_path


def on_publish(client: LanguageClient, params: types.PublishDiagnosticsParams):
    """Keeps every publishDiagnostics, with its version, in the order they came."""
    client.diagnostics[params.uri] = params.diagnostics
    client.published_versions[params.uri] = params.version
    client.every_published.append((params.uri, params.version, params.diagnostics))


def recording_client():
    client = LanguageClient(converter_factory=default_converter)
    client.published_versions = {}
    client.every_published = []
    register_lsp_features(client, {**DEFAULT_CLIENT_FEATURES,
                                   types.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS: on_publish})
    return client


@pytest_lsp.fixture(config=ClientServerConfig(server_command=[str(NATIVE), "server"],
                                              client_factory=recording_client))
async def client(lsp_client: LanguageClient, workspace, request):
    capabilities = getattr(request, "param", PUSH)
    lsp_client.initialize_result = await lsp_client.initialize_session(types.InitializeParams(
        capabilities=capabilities, root_uri=workspace.as_uri(),
        workspace_folders=[types.WorkspaceFolder(uri=workspace.as_uri(), name="work")]))
    yield
    await lsp_client.shutdown_session()


async def until(condition, timeout=20):
    """Waits until `condition()` holds, as the server answers in its own time."""
    loop = asyncio.get_running_loop()
    deadline = loop.time() + timeout
    while not condition():
        assert loop.time() < deadline, "timed out"
        await asyncio.sleep(0.02)


def open_document(client, path, text, version=1):
    path.write_text(text, encoding="utf-8")
    client.text_document_did_open(types.DidOpenTextDocumentParams(
        text_document=types.TextDocumentItem(uri=path.as_uri(), language_id="python",
                                             version=version, text=text)))
    return path.as_uri()


def change(client, uri, version, start, end, text):
    client.text_document_did_change(types.DidChangeTextDocumentParams(
        text_document=types.VersionedTextDocumentIdentifier(uri=uri, version=version),
        content_changes=[types.TextDocumentContentChangePartial(
            range=types.Range(start=types.Position(*start), end=types.Position(*end)),
            text=text)]))


async def published(client, uri, version=None):
    await until(lambda: uri in client.diagnostics and
                (version is None or client.published_versions.get(uri) == version))
    return client.diagnostics[uri]


async def test_initialize_announces_what_the_server_does(client):
    result = client.initialize_result.capabilities
    assert result.position_encoding == types.PositionEncodingKind.Utf16
    assert result.text_document_sync.change == types.TextDocumentSyncKind.Incremental
    assert list(result.code_action_provider.code_action_kinds) == [types.CodeActionKind.QuickFix]
    assert result.diagnostic_provider.inter_file_dependencies is False


async def test_diagnostics_are_those_of_the_command_on_the_saved_file(client, workspace):
    uri = open_document(client, workspace / "app.py",
                        SOURCE + "\n\ndef port(cfg):\n    return load(cfg)\n"
                        "\n\ndef main(cfg):\n    return port(cfg)\n")
    diagnostics = await published(client, uri, 1)
    expected = command_findings(workspace, "app.py")
    assert len(expected) >= 3
    got = [(d.code, d.range.start.line + 1, d.range.start.character + 1, d.range.end.line + 1,
            d.range.end.character + 1, d.message) for d in diagnostics]
    assert got == [(r["code"], r["location"]["row"], r["location"]["column"],
                    r["end_location"]["row"], r["end_location"]["column"], r["message"])
                   for r in expected]
    assert {d.source for d in diagnostics} == {"keyhound"}
    # Each diagnostic's severity is its confidence: high an error, medium a
    # warning, low information.
    severity = {"high": types.DiagnosticSeverity.Error, "medium": types.DiagnosticSeverity.Warning,
                "low": types.DiagnosticSeverity.Information}
    assert [d.severity for d in diagnostics] == [severity[r["confidence"]] for r in expected]
    assert {d.severity for d in diagnostics} == {types.DiagnosticSeverity.Warning,
                                                 types.DiagnosticSeverity.Information}
    call = next(d for d in diagnostics if d.code == "KH002")
    origin = next(r for r in expected if r["code"] == "KH002")["origin"]
    (related,) = call.related_information
    assert related.location.uri == uri
    assert (related.location.range.start.line + 1,
            related.location.range.start.character + 1) == (origin["row"], origin["column"])
    assert "cfg['port']" in related.message


async def test_incremental_changes_move_and_add_findings(client, workspace):
    uri = open_document(client, workspace / "app.py", SOURCE)
    await published(client, uri, 1)
    # Two lines above the lookup, then a new lookup typed into one of them.
    change(client, uri, 2, (0, 0), (0, 0), "import os\n\n")
    change(client, uri, 3, (1, 0), (1, 0), "X = os.environ['HOME']")
    diagnostics = await published(client, uri, 3)
    lines = sorted((d.range.start.line, d.range.start.character) for d in diagnostics)
    assert (1, 4) in lines and (3, 11) in lines
    # And deleted again: the finding goes with it.
    change(client, uri, 4, (1, 0), (1, 22), "")
    diagnostics = await published(client, uri, 4)
    assert (1, 4) not in [(d.range.start.line, d.range.start.character) for d in diagnostics]


async def test_only_the_latest_version_is_published_last(client, workspace):
    uri = open_document(client, workspace / "app.py", SOURCE)
    await published(client, uri, 1)
    lines = SOURCE.count("\n")
    for version in range(2, 42):
        change(client, uri, version, (lines, 0), (lines, 0), f"v{version} = d['k{version}']\n")
        lines += 1
    diagnostics = await published(client, uri, 41)
    versions = [version for u, version, _ in client.every_published if u == uri]
    assert versions == sorted(versions) and versions[-1] == 41
    assert sum(1 for d in diagnostics if "d['k" in d.message) == 40
    await asyncio.sleep(0.3)
    assert client.published_versions[uri] == 41


@pytest.mark.parametrize("client", [PULL], indirect=True)
async def test_a_client_that_pulls_gets_answers_and_no_pushes(client, workspace):
    uri = open_document(client, workspace / "app.py", SOURCE)
    report = await client.text_document_diagnostic_async(types.DocumentDiagnosticParams(
        text_document=types.TextDocumentIdentifier(uri=uri)))
    assert [d.code for d in report.items] == ["KH001", "KH001", "KH001"]
    change(client, uri, 2, (1, 11), (1, 22), "cfg.get('port')")
    report = await client.text_document_diagnostic_async(types.DocumentDiagnosticParams(
        text_document=types.TextDocumentIdentifier(uri=uri)))
    assert [d.range.start.line for d in report.items] == [6, 12]
    assert client.every_published == []


def apply_edit(text, edit):
    """Applies one TextEdit (UTF-16 positions, ASCII text) to `text`."""
    lines = text.split("\n")
    def offset(position):
        return sum(len(line) + 1 for line in lines[:position.line]) + position.character
    return text[:offset(edit.range.start)] + edit.new_text + text[offset(edit.range.end):]


async def actions_at(client, uri, line, character):
    return await client.text_document_code_action_async(types.CodeActionParams(
        text_document=types.TextDocumentIdentifier(uri=uri),
        range=types.Range(start=types.Position(line, character),
                          end=types.Position(line, character)),
        context=types.CodeActionContext(diagnostics=[])))


@pytest.mark.parametrize("title, gone", [
    ("Suppress KH001 on this line", "    return cfg['port']  # noqa: KH001\n"),
    ("Suppress KH001 in this file", "# keyhound: noqa: KH001\n"),
    ("Use cfg.get('port') (None when the key is missing)", "    return cfg.get('port')\n"),
])
async def test_quick_fixes_applied_and_checked_again(client, workspace, title, gone):
    uri = open_document(client, workspace / "app.py", SOURCE)
    before = await published(client, uri, 1)
    actions = await actions_at(client, uri, 1, 14)
    action = next(a for a in actions if a.title == title)
    assert action.kind == types.CodeActionKind.QuickFix
    assert action.is_preferred == (title.startswith("Suppress KH001 on"))
    (edit,) = action.edit.changes[uri]
    fixed = apply_edit(SOURCE, edit)
    assert gone in fixed
    client.text_document_did_change(types.DidChangeTextDocumentParams(
        text_document=types.VersionedTextDocumentIdentifier(uri=uri, version=2),
        content_changes=[types.TextDocumentContentChangePartial(range=edit.range,
                                                                text=edit.new_text)]))
    after = await published(client, uri, 2)
    remaining = 0 if "in this file" in title else len(before) - 1
    assert len(after) == remaining


async def test_no_get_fix_for_a_deleted_key(client, workspace):
    uri = open_document(client, workspace / "app.py", SOURCE)
    await published(client, uri, 1)
    titles = [a.title for a in await actions_at(client, uri, 12, 9)]
    assert titles == ["Suppress KH001 on this line", "Suppress KH001 in this file"]


LINE = "s = 'é😀'; v = d['k']\n"


@pytest.mark.parametrize("client, column", [(PUSH, 15), (utf8_capabilities(), 18)],
                         indirect=["client"])
async def test_columns_in_the_negotiated_encoding(client, workspace, column):
    encoding = client.initialize_result.capabilities.position_encoding
    assert encoding == (types.PositionEncodingKind.Utf8 if column == 18
                        else types.PositionEncodingKind.Utf16)
    uri = open_document(client, workspace / "wide.py", LINE)
    (diagnostic,) = await published(client, uri, 1)
    assert (diagnostic.range.start.character, diagnostic.range.end.character) == (
        column, column + 6)
    # An edit after the astral character, in the same encoding.
    change(client, uri, 2, (0, column + 2), (0, column + 5), "'key'")
    (diagnostic,) = await published(client, uri, 2)
    assert "d['key']" in diagnostic.message


async def test_the_configuration_is_read_and_read_again(client, workspace):
    pyproject = workspace / "pyproject.toml"
    pyproject.write_text("[tool.keyhound]\nignore = ['KH001']\n")
    uri = open_document(client, workspace / "app.py", SOURCE)
    assert list(await published(client, uri, 1)) == []
    pyproject.write_text("[tool.keyhound]\nselect = ['KH001']\n")
    client.workspace_did_change_watched_files(types.DidChangeWatchedFilesParams(
        changes=[types.FileEvent(uri=pyproject.as_uri(), type=types.FileChangeType.Changed)]))
    await until(lambda: len(client.diagnostics[uri]) == 3)


async def test_a_bad_configuration_is_shown_once_and_the_defaults_used(client, workspace):
    (workspace / "pyproject.toml").write_text("[tool.keyhound]\nselect = ['KH9']\n")
    first = open_document(client, workspace / "app.py", SOURCE)
    second = open_document(client, workspace / "other.py", SOURCE)
    assert len(await published(client, first, 1)) == 3
    assert len(await published(client, second, 1)) == 3
    shown = [m.message for m in client.messages]
    assert len(shown) == 1 and "'select' holds 'KH9'" in shown[0]


async def test_test_code_is_not_reported(client, workspace):
    uri = open_document(client, workspace / "test_app.py", SOURCE)
    assert list(await published(client, uri, 1)) == []


async def test_closing_clears_the_diagnostics(client, workspace):
    uri = open_document(client, workspace / "app.py", SOURCE)
    assert await published(client, uri, 1)
    client.text_document_did_close(types.DidCloseTextDocumentParams(
        text_document=types.TextDocumentIdentifier(uri=uri)))
    await until(lambda: list(client.diagnostics[uri]) == [])
